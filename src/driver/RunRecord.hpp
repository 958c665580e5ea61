#pragma once
// Observers of a transform run that the driver attaches: a record of the run
// for the JSON summary, the progress line on a terminal, and a fan-out to
// several observers.

#include <cstdio>
#include <string>
#include <vector>

#include "core/Grid.hpp"
#include "core/Stopwatch.hpp"
#include "mapt/Centres.hpp"
#include "mapt/RunObserver.hpp"

namespace shapescale {

/// Everything the transform reported: grid, radii, stage times, files; and
/// what the final volumes tell: the voxels not outside and the centres.
class RunRecord : public RunObserver {
  public:
    struct Radius {
        int index = 0;
        double radiusVox = 0;  ///< voxel units
        Histogram histogram{};
        std::int64_t atLeastOne = 0;
        StageTimes times;
    };

    void runStarted(const RunStart& start) override;
    void radiusDone(const RadiusDone& done) override;
    void fileWritten(const std::string& path) override { files.push_back(path); }
    void finalVolumes(const FinalVolumes& volumes) override;
    void runFinished(double writingSeconds) override { finalWritingSeconds = writingSeconds; }

    /// Set before the run: count the voxels not outside and find the centres
    /// at this threshold at its end (for the summary and --centres).
    bool readsFinalVolumes = false;
    float centreThreshold = DEFAULT_CENTRE_THRESHOLD;

    bool started = false;
    Grid grid;
    double startRadiusVox = 0;
    double radiusStepVox = 0;
    double sigmaVox = 0;
    int radiusCount = 0;
    double voxelisingSeconds = 0;
    double finalWritingSeconds = 0;
    std::vector<Radius> radii;
    std::vector<std::string> files;  ///< in the order written
    std::int64_t voxelsNotOutside = 0;
    std::vector<Centre> centres;  ///< with readsFinalVolumes, strongest first
};

/// One updating line per radius on a terminal: "radius k of n", the radius in
/// world units, the time elapsed and an estimate of the time left. The line
/// is erased before the run's own output of each radius and at the end, so
/// the terminal keeps exactly the lines a run without it prints.
class ProgressLine : public RunObserver {
  public:
    explicit ProgressLine(std::FILE* terminal) : out_(terminal) {}
    /// A run that ends with an error leaves no half line before its message.
    ~ProgressLine() override { erase(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void runStarted(const RunStart& start) override;
    void radiusWriting(int index) override;
    void radiusDone(const RadiusDone& done) override;
    void runFinished(double writingSeconds) override;

  private:
    void draw(int index);
    void erase();

    std::FILE* out_;
    Stopwatch sinceStart_;
    Stopwatch sinceLastDone_;       ///< since the end of the last radius
    double lastRadiusSeconds_ = 0;  ///< how long the last radius took
    double h_ = 0;
    double startRadius_ = 0;
    double radiusStep_ = 0;
    int count_ = 0;
    bool drawn_ = false;
};

/// Tells every observer of the list, in order.
class ObserverList : public RunObserver {
  public:
    void add(RunObserver& observer) { observers_.push_back(&observer); }

    void runStarted(const RunStart& s) override {
        for (RunObserver* o : observers_) o->runStarted(s);
    }
    void radiusWriting(int index) override {
        for (RunObserver* o : observers_) o->radiusWriting(index);
    }
    void radiusDone(const RadiusDone& d) override {
        for (RunObserver* o : observers_) o->radiusDone(d);
    }
    void fileWritten(const std::string& path) override {
        for (RunObserver* o : observers_) o->fileWritten(path);
    }
    void finalVolumes(const FinalVolumes& f) override {
        for (RunObserver* o : observers_) o->finalVolumes(f);
    }
    void runFinished(double seconds) override {
        for (RunObserver* o : observers_) o->runFinished(seconds);
    }

  private:
    std::vector<RunObserver*> observers_;
};

}  // namespace shapescale
