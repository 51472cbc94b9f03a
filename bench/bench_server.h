// The fixture server for the benchmarks that grab pages, and the small file helpers they
// share.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

inline bool WriteText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

inline std::string ReadText(const std::string& path) {
    std::string text;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return text;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(f);
    return text;
}

// The fixture server on a folder; stopped by its stop file.
class Server {
  public:
    bool Start(const std::string& root, const std::string& scratch) {
        m_strStop = scratch + "/stop";
        std::string portFile = scratch + "/port";
        std::string script = std::string(QB_SOURCE_DIR) + "/tests/fixtures/server/server.py";
        std::vector<std::string> argv = {"/usr/bin/python3", script,   "--root",      root,
                                         "--port-file",      portFile, "--stop-file", m_strStop,
                                         "--lifetime",       "600"};
        std::vector<char*> args;
        for (std::string& a : argv) {
            args.push_back(&a[0]);
        }
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        int rc = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            return false;
        }
        for (int i = 0; i < 200; ++i) {
            if (std::sscanf(ReadText(portFile).c_str(), "PORT %d", &m_nPort) == 1 && m_nPort > 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    ~Server() {
        if (m_pid > 0) {
            WriteText(m_strStop, "stop");
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_nPort); }

  private:
    pid_t m_pid = 0;
    int m_nPort = 0;
    std::string m_strStop;
};
