#include "support/BoundedRun.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace shapescale::test {

namespace fs = std::filesystem;

BoundedResult runBounded(const BoundedRun& run) {
    TempDir streams;
    const std::string outPath = streams.file("stdout"), errPath = streams.file("stderr");
    std::vector<std::string> argv = {SHAPESCALE_BINARY};
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    std::vector<char*> cargs;
    for (auto& a : argv) cargs.push_back(a.data());
    cargs.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(run.cwd.c_str()) != 0)
            _exit(127);
        const auto limit = [](int resource, long long bytes) {
            if (bytes < 0) return true;
            const rlimit r{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
            return setrlimit(resource, &r) == 0;
        };
        if (!limit(RLIMIT_FSIZE, run.fileSizeLimit) || !limit(RLIMIT_AS, run.addressSpaceLimit))
            _exit(127);
        execv(cargs[0], cargs.data());
        _exit(127);
    }
    BoundedResult result;
    const auto start = std::chrono::steady_clock::now();
    int wstatus = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed > run.secondsAllowed && !result.killedAtTimeLimit) {
            kill(pid, SIGKILL);
            result.killedAtTimeLimit = true;
        }
        if (!result.signalSent && run.sendWhen && run.sendWhen()) {
            if (run.signal != 0) kill(pid, run.signal);
            result.signalSent = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.termSignal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    result.out = readText(outPath);
    result.err = readText(errPath);
    return result;
}

std::vector<std::string> temporaryFiles(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (it->path().filename().string().find(".tmp-") != std::string::npos)
            names.push_back(it->path().string());
    return names;
}

std::string brokenPairs(const std::string& dir) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const fs::path p = it->path();
        fs::path other = p;
        if (p.extension() == ".img" && !fs::exists(other.replace_extension(".hdr")))
            return p.string() + " has no header";
        if (p.extension() != ".hdr") continue;
        const std::vector<unsigned char> h = readBytes(p.string());
        if (h.size() != 348) return p.string() + " is not 348 bytes";
        std::int64_t voxels = 1;
        for (int a = 0; a < 3; ++a) voxels *= h[42 + 2 * a] | (h[43 + 2 * a] << 8);
        const std::string img = other.replace_extension(".img").string();
        if (!fs::exists(img) || static_cast<std::int64_t>(fs::file_size(img)) != 4 * voxels)
            return img + " is missing or not " + std::to_string(4 * voxels) + " bytes";
    }
    return "";
}

}  // namespace shapescale::test
