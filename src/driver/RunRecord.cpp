#include "driver/RunRecord.hpp"

#include <algorithm>
#include <cmath>

#include "mapt/Descriptor.hpp"

namespace shapescale {

void RunRecord::runStarted(const RunStart& start) {
    started = true;
    grid = *start.grid;
    startRadiusVox = start.startRadius;
    radiusStepVox = start.radiusStep;
    sigmaVox = start.sigma;
    radiusCount = start.radiusCount;
    voxelisingSeconds = start.voxelisingSeconds;
}

void RunRecord::radiusDone(const RadiusDone& done) {
    Radius r;
    r.index = done.index;
    r.radiusVox = done.radius;
    if (done.histogram != nullptr) r.histogram = *done.histogram;
    r.atLeastOne = done.atLeastOne;
    r.times = done.times;
    radii.push_back(r);
}

void RunRecord::finalVolumes(const FinalVolumes& volumes) {
    if (!readsFinalVolumes) return;
    voxelsNotOutside = countNotOutside(volumes.labels, volumes.grid->voxels());
    centres =
        findCentres(*volumes.grid, volumes.labels, volumes.jmapt, volumes.scale, centreThreshold);
}

namespace {

// "m:ss", or "h:mm:ss" from an hour on.
std::string clockText(double seconds) {
    const long s = seconds > 0 ? std::lround(seconds) : 0;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

}  // namespace

void ProgressLine::runStarted(const RunStart& start) {
    sinceStart_ = sinceLastDone_ = Stopwatch();
    h_ = start.grid->h();
    startRadius_ = start.startRadius;
    radiusStep_ = start.radiusStep;
    count_ = start.radiusCount;
    if (count_ > 0) draw(0);
}

void ProgressLine::radiusWriting(int) {
    erase();
}

void ProgressLine::radiusDone(const RadiusDone& done) {
    lastRadiusSeconds_ = sinceLastDone_.restart();
    if (done.index + 1 < count_) draw(done.index + 1);
}

void ProgressLine::runFinished(double) {
    erase();
}

void ProgressLine::draw(int index) {
    const double elapsed = sinceStart_.seconds();
    // The radius in world units as the transform forms it: start + k * step voxels.
    const double radiusWorld = (startRadius_ + index * radiusStep_) * h_;
    std::string left = "estimating";
    // The filters widen with the radius, so a radius takes at least as long as
    // the one before: the mean of those done would promise too early an end.
    const double perRadius = index > 0 ? std::max(elapsed / index, lastRadiusSeconds_) : 0;
    if (index > 0) left = "about " + clockText(perRadius * (count_ - index)) + " left";
    // \r and "erase to end of line": the line is rewritten in place.
    std::fprintf(out_, "\r\033[Kradius %d of %d (r = %g), %s elapsed, %s", index + 1, count_,
                 radiusWorld, clockText(elapsed).c_str(), left.c_str());
    std::fflush(out_);
    drawn_ = true;
}

void ProgressLine::erase() {
    if (!drawn_) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    drawn_ = false;
}

}  // namespace shapescale
