#include "support/TestFiles.hpp"

#include "io/OutputFile.hpp"

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace shapescale::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/shapescale-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readText(const std::string& path) {
    const std::vector<unsigned char> bytes = readBytes(path);
    return {bytes.begin(), bytes.end()};
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool fileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<float> readFloats(const std::string& path) {
    const std::vector<unsigned char> bytes = readBytes(path);
    std::vector<float> values(bytes.size() / sizeof(float));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    return values;
}

std::array<int, 3> analyzeDims(const std::string& hdrPath) {
    const std::vector<unsigned char> h = readBytes(hdrPath);
    std::array<int, 3> dims{};
    for (std::size_t a = 0; a < 3 && h.size() >= 48; ++a)
        dims[a] = h[42 + 2 * a] | h[43 + 2 * a] << 8;
    return dims;
}

RunResult runBounded(const BoundedRun& run) {
    TempDir streams;
    const std::string outPath = streams.file("stdout"), errPath = streams.file("stderr");
    std::vector<std::string> argv = {SHAPESCALE_BINARY};
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    std::vector<char*> cargs;
    for (auto& a : argv) cargs.push_back(a.data());
    cargs.push_back(nullptr);

    int terminal = -1;
    const pid_t pid = run.terminal ? forkpty(&terminal, nullptr, nullptr, nullptr) : fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, 1) < 0 || chdir(run.cwd.c_str()) != 0) _exit(127);
        if (!run.terminal) {
            const int in = open("/dev/null", O_RDONLY);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || err < 0 || dup2(in, 0) < 0 || dup2(err, 2) < 0) _exit(127);
        }
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
    // The terminal is drained while the child runs, so that it never blocks on a full one.
    std::string shown;
    const auto drain = [&] {
        char buffer[4096];
        for (ssize_t n; terminal >= 0 && (n = read(terminal, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, static_cast<std::size_t>(n));
    };
    if (terminal >= 0) fcntl(terminal, F_SETFL, O_NONBLOCK);
    RunResult result;
    const auto start = std::chrono::steady_clock::now();
    int wstatus = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &wstatus, WNOHANG);
        drain();
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
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.termSignal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    result.out = readText(outPath);
    result.err = readText(errPath);
    if (terminal >= 0) {
        drain();
        close(terminal);
        for (std::size_t i = 0; i < shown.size(); ++i)
            if (!(shown[i] == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n'))
                result.err += shown[i];
    }
    return result;
}

std::string BinaryRuns::mesh(const shapes::PolyMesh& poly, const std::string& name) {
    shapes::writeOff(poly, dir.file(name));
    return dir.file(name);
}

RunResult BinaryRuns::run(const std::vector<std::string>& args, const std::string& cwd) {
    const std::string where = cwd.empty() ? dir.path() : dir.file(cwd);
    mkdir(where.c_str(), 0775);
    return runBinary(args, where);
}

Files BinaryRuns::files(const std::string& sub) {
    Files all;
    for (const std::string& name : listDir(dir.file(sub)))
        all[name] = readBytes(dir.file(sub + "/" + name));
    const std::string vol = dir.file(sub + "/../volume.vol");
    if (fileExists(vol)) all["volume.vol"] = readBytes(vol);
    return all;
}

bool BinaryRuns::exists(const std::string& name) const {
    return fileExists(dir.file(name));
}

std::vector<std::string> temporaryFiles(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec))
        if (it->path().filename().string().rfind(TEMPORARY_PREFIX, 0) == 0)
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
        if (fs::file_size(p) != 348) return p.string() + " is not 348 bytes";
        std::int64_t voxels = 1;
        for (const int dim : analyzeDims(p.string())) voxels *= dim;
        const std::string img = other.replace_extension(".img").string();
        if (!fs::exists(img) || static_cast<std::int64_t>(fs::file_size(img)) != 4 * voxels)
            return img + " is missing or not " + std::to_string(4 * voxels) + " bytes";
    }
    return "";
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

TriMesh withNormals(const shapes::PolyMesh& poly) {
    TriMesh mesh = shapes::loadMesh(poly);
    computeVertexNormals(mesh);
    return mesh;
}

std::vector<std::vector<int>> neighbourLists(const TriMesh& mesh) {
    std::vector<std::vector<int>> lists;
    for (std::size_t i = 0; i < mesh.vertexNeighbours.size(); ++i)
        lists.emplace_back(mesh.vertexNeighbours[i].begin(), mesh.vertexNeighbours[i].end());
    return lists;
}

}  // namespace shapescale::test
