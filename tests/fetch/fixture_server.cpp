#include "fixture_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <fstream>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "platform/files.h"

namespace {

int g_nScratch = 0;

long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(getpid());
#endif
}

// Starts a host program without waiting; arguments hold no spaces.
bool SpawnHost(const std::vector<std::string>& argv) {
#ifdef _WIN32
    // Wine starts a host (ELF) program when given its absolute path.
    std::string line;
    for (const std::string& a : argv) {
        line += (line.empty() ? "" : " ") + a;
    }
    // The server's own output goes nowhere.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE nul =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi{};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    BOOL started = CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &si, &pi);
    if (nul != INVALID_HANDLE_VALUE) {
        CloseHandle(nul);
    }
    if (!started) {
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
#else
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    // Reap it in the background so that no zombie stays behind.
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
    return true;
#endif
}

}  // namespace

std::string HostToLocal(const std::string& hostPath) {
#ifdef _WIN32
    std::string local = "Z:" + hostPath;
    for (char& c : local) {
        if (c == '/') {
            c = '\\';
        }
    }
    return local;
#else
    return hostPath;
#endif
}

std::string MakeHostScratch(const std::string& tag) {
    // Process ids repeat quickly under Wine: the clock keeps runs apart.
    static const long long s_nStart =
        std::chrono::system_clock::now().time_since_epoch().count() % 1000000007;
    std::string path = "/tmp/qb-fetch-" + std::to_string(ProcessId()) + "-" +
                       std::to_string(s_nStart) + "-" + tag + "-" + std::to_string(++g_nScratch);
    platform::FolderCreate(HostToLocal(path));
    return path;
}

std::string FixtureSites() {
    return std::string(QB_TEST_DIR) + "/sites";
}

bool RunHost(const std::string& commandLine) {
#ifdef _WIN32
    std::string line = "/bin/sh -c \"" + commandLine + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        return false;
    }
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0;
#else
    return std::system(commandLine.c_str()) == 0;
#endif
}

bool MakeTestCertificates(const std::string& hostDir) {
    const char* kinds[][2] = {
        {"good", "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"},
        {"other", "/CN=other.example -addext subjectAltName=DNS:other.example"},
        {"stranger", "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"}};
    for (auto& k : kinds) {
        std::string base = hostDir + "/" + k[0];
        if (!RunHost("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                     "-days 2 -keyout " +
                     base + ".key -out " + base + ".pem -subj " + k[1] + " >/dev/null 2>&1")) {
            return false;
        }
    }
    return RunHost("cat " + hostDir + "/good.pem " + hostDir + "/other.pem > " + hostDir +
                   "/trusted.pem");
}

std::string ReadWhole(const std::string& localPath) {
    std::ifstream in(localPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool WriteWhole(const std::string& localPath, const std::string& data) {
    std::ofstream out(localPath, std::ios::binary | std::ios::trunc);
    out << data;
    return static_cast<bool>(out);
}

bool FixtureServer::Start(const std::string& root, const std::vector<std::string>& extra) {
    Stop();
    m_strDir = MakeHostScratch("server");
    std::vector<std::string> argv = {
        "/usr/bin/python3",
        std::string(QB_SOURCE_DIR) + "/tests/fixtures/server/server.py",
        "--root",
        root,
        "--log",
        m_strDir + "/log",
        "--head-log",
        m_strDir + "/heads",
        "--port-file",
        m_strDir + "/port",
        "--stop-file",
        m_strDir + "/stop",
        "--lifetime",
        "300"};
    m_bTls = false;
    for (const std::string& e : extra) {
        argv.push_back(e);
        if (e == "--cert") {
            m_bTls = true;
        }
    }
    if (!SpawnHost(argv)) {
        return false;
    }
    std::string portFile = HostToLocal(m_strDir + "/port");
    for (int i = 0; i < 300; ++i) {  // the interpreter may start slowly on a busy machine
        std::string text = ReadWhole(portFile);
        int port = 0;
        if (std::sscanf(text.c_str(), "PORT %d", &port) == 1 && port > 0) {
            m_nPort = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void FixtureServer::Stop() {
    if (!m_strDir.empty()) {
        WriteWhole(HostToLocal(m_strDir + "/stop"), "stop");
        // The server sees the stop file within 50 ms; its folder goes after it.
        RunHost("sleep 0.2; rm -rf " + m_strDir);
        m_strDir.clear();
    }
    m_nPort = 0;
}

std::string FixtureServer::Base() const {
    return std::string(m_bTls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_nPort);
}

std::vector<std::string> FixtureServer::Requests() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadWhole(HostToLocal(m_strDir + "/log")));
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

bool FixtureServer::Asked(const std::string& path) const {
    for (const std::string& line : Requests()) {
        if (line.compare(0, path.size() + 1, path + " ") == 0) {
            return true;
        }
    }
    return false;
}

void FixtureServer::ClearRequests() const {
    WriteWhole(HostToLocal(m_strDir + "/log"), "");
    WriteWhole(HostToLocal(m_strDir + "/heads"), "");
}

std::vector<std::string> FixtureServer::RequestHeads() const {
    std::vector<std::string> heads;
    std::string text = ReadWhole(HostToLocal(m_strDir + "/heads"));
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n\r\n", start)) != std::string::npos; start = end + 4) {
        heads.push_back(text.substr(start, end + 2 - start));
    }
    return heads;
}

namespace {

// The number after " <name>=" in a request log line, or -1.
int LogField(const std::string& line, const char* name) {
    size_t at = line.rfind(std::string(" ") + name + "=");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + std::strlen(name) + 2);
}

}  // namespace

int FixtureServer::Connections() const {
    std::set<int> seen;
    for (const std::string& line : Requests()) {
        seen.insert(LogField(line, "conn"));
    }
    return static_cast<int>(seen.size());
}

int FixtureServer::PeakOpenConnections() const {
    int peak = 0;
    for (const std::string& line : Requests()) {
        peak = std::max(peak, LogField(line, "open"));
    }
    return peak;
}
