// A host for the extractor driver that works on real files in a test folder but scripts the
// user: it records every message, question, progress step and launch, and answers from
// queues set up by the test.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "extractor/extractor_host.h"
#include "extractor/extractor_text.h"

namespace fs = std::filesystem;

class FakeHost : public spillet::CExtractorHost {
  public:
    struct Shown {
        std::string title;
        std::string text;
        bool operator==(const Shown& o) const { return title == o.title && text == o.text; }
    };

    // Script.
    std::string commandLine;
    std::string tempFolder;
    std::deque<bool> answers;                          // yes/no questions; empty: No
    std::deque<std::optional<std::string>> passwords;  // nullopt: Cancel
    int closeProgressAfterFiles = -1;                  // the user cancels after n files
    bool programsStart = false;
    std::set<std::string> shellOpens;  // paths the shell can open (native separators)
    bool shellAvailable = true;
    int closeProgressAfterPumps = -1;  // the user cancels during the n-th pump
    int64_t freeSpace = -1;            // unknown
    long writeLimit = -1;              // bytes that can be written in all (a full disk)
    size_t maxPath = 259;
    std::set<std::string> inUse;  // files another program holds open: not removable

    // Record.
    std::vector<Shown> messages;
    std::vector<Shown> questions;
    int passwordPrompts = 0;
    std::map<std::string, unsigned> attributes;
    std::map<std::string, std::pair<uint16_t, uint16_t>> times;
    std::vector<std::string> ran, opened;
    std::vector<std::pair<std::string, std::string>> renamed;
    std::vector<int> positions;
    std::vector<std::string> progressTexts;
    std::string trace;
    bool progressShown = false;
    int pumps = 0;
    std::vector<std::string> finished;
    std::vector<std::string> privateFolders;

    ~FakeHost() override {
        for (auto& f : m_files) {
            std::fclose(f.second);
        }
    }

    static std::string Native(std::string path) {
#ifndef _WIN32
        for (char& c : path) {
            if (c == '\\') {
                c = '/';
            }
        }
#endif
        return path;
    }

    int Open(const std::string& path, int flags, int) override {
        std::error_code ec;
        if ((flags & 0x0500) == 0x0500 && fs::exists(fs::symlink_status(Native(path), ec))) {
            errno = EEXIST;  // create exclusively: anything there, a link too, refuses
            return -1;
        }
        const char* mode = (flags & 0x0100) ? "w+b" : (flags & 0x0003) ? "r+b" : "rb";
        std::FILE* f = std::fopen(Native(path).c_str(), mode);
        if (!f) {
            return -1;
        }
        m_files[++m_nLast] = f;
        return m_nLast;
    }
    long Read(int fd, void* buffer, unsigned long count) override {
        auto it = m_files.find(fd);
        return it == m_files.end() ? -1
                                   : static_cast<long>(std::fread(buffer, 1, count, it->second));
    }
    long Write(int fd, const void* buffer, unsigned long count) override {
        auto it = m_files.find(fd);
        if (it == m_files.end()) {
            return -1;
        }
        if (writeLimit >= 0 && static_cast<long>(count) > writeLimit) {
            std::fwrite(buffer, 1, static_cast<size_t>(writeLimit), it->second);
            writeLimit = 0;
            errno = ENOSPC;
            return -1;
        }
        if (writeLimit >= 0) {
            writeLimit -= static_cast<long>(count);
        }
        return static_cast<long>(std::fwrite(buffer, 1, count, it->second));
    }
    long Seek(int fd, long offset, int origin) override {
        auto it = m_files.find(fd);
        if (it == m_files.end() || std::fseek(it->second, offset, origin) != 0) {
            return -1;
        }
        return std::ftell(it->second);
    }
    int Close(int fd) override {
        auto it = m_files.find(fd);
        if (it == m_files.end()) {
            return -1;
        }
        std::fclose(it->second);
        m_files.erase(it);
        return 0;
    }
    int OpenFiles() const {
        return static_cast<int>(m_files.size());
    }

    bool Exists(const std::string& path) override {
        std::error_code ec;
        return std::filesystem::exists(Native(path), ec);
    }
    bool CreateFolder(const std::string& path) override {
        std::error_code ec;
        return std::filesystem::create_directory(Native(path), ec);
    }
    bool SetDosTime(const std::string& path, uint16_t date, uint16_t time) override {
        if (!Exists(path)) {
            return false;
        }
        times[Native(path)] = {date, time};
        return true;
    }
    bool SetAttributes(const std::string& path, unsigned value) override {
        attributes[Native(path)] = value;
        return true;
    }
    bool Rename(const std::string& from, const std::string& to) override {
        renamed.emplace_back(from, to);
        std::error_code ec;
        std::filesystem::rename(Native(from), Native(to), ec);
        return !ec;
    }
    bool RemoveFile(const std::string& path) override {
        std::error_code ec;
        return !inUse.count(Native(path)) && fs::remove(Native(path), ec);
    }
    bool RemoveFolder(const std::string& path) override {
        std::error_code ec;
        return fs::is_directory(Native(path), ec) && fs::is_empty(Native(path), ec) &&
               fs::remove(Native(path), ec);
    }
    bool IsLink(const std::string& path) override {
        std::string p = Native(path);
        while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) {
            p.pop_back();
        }
        std::error_code ec;
        return fs::is_symlink(p, ec);
    }
    std::vector<std::string> ListFolder(const std::string& folder, bool olderThanADay) override {
        std::vector<std::string> names;
        std::error_code ec;
        const auto dayAgo = fs::file_time_type::clock::now() - std::chrono::hours(24);
        for (const auto& e : fs::directory_iterator(Native(folder), ec)) {
            if (e.is_symlink(ec) || (olderThanADay && e.last_write_time(ec) >= dayAgo)) {
                continue;
            }
            names.push_back(e.path().filename().string() + (e.is_directory(ec) ? "\\" : ""));
        }
        return names;
    }
    int64_t FreeSpace(const std::string&) override {
        return freeSpace;
    }
    std::string MakePrivateFolder(const std::string& parent) override {
        std::string folder = parent + "run" + std::to_string(privateFolders.size() + 1);
        std::error_code ec;
        if (!fs::create_directory(Native(folder), ec)) {
            return std::string();
        }
        privateFolders.push_back(folder);
        return folder + static_cast<char>(fs::path::preferred_separator);
    }
    size_t MaxPath() override {
        return maxPath;
    }
    bool ShellAvailable() override {
        return shellAvailable;
    }
    void Finished(const std::string& folder) override {
        finished.push_back(folder);
    }
    std::string TempFolder() override {
        return tempFolder;
    }
    std::string CommandLine() override {
        return commandLine;
    }
    void Trace(const std::string& text) override {
        trace += text;
    }

    void Message(const std::string& text, const std::string& title) override {
        messages.push_back({title, text});
    }
    bool AskYesNo(const std::string& text, const std::string& title) override {
        questions.push_back({title, text});
        if (answers.empty()) {
            return false;
        }
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    bool AskPassword(std::string& password) override {
        ++passwordPrompts;
        if (passwords.empty() || !passwords.front()) {
            return false;
        }
        password = *passwords.front();
        passwords.pop_front();
        return true;
    }
    void ShowSplash() override {}
    void EndSplash() override {}
    bool OpenProgress(const std::string& title, bool) override {
        progressShown = true;
        m_bOpen = true;
        progressTexts.push_back(title);
        return true;
    }
    void SetProgressMessage(const std::string& text) override {
        progressTexts.push_back(text);
    }
    void SetProgressPosition(int percent) override {
        positions.push_back(percent);
        if (closeProgressAfterFiles >= 0 &&
            static_cast<int>(positions.size()) >= closeProgressAfterFiles) {
            m_bOpen = false;
        }
    }
    void PumpProgress() override {
        if (++pumps == closeProgressAfterPumps) {
            m_bOpen = false;
        }
    }
    bool IsProgressOpen() override {
        return m_bOpen;
    }
    void CloseProgress() override {
        m_bOpen = false;
    }
    bool RunAndWait(const std::string& path) override {
        ran.push_back(Native(path));
        return programsStart;
    }
    bool ShellOpen(const std::string& path) override {
        opened.push_back(Native(path));
        return shellOpens.count(Native(path)) > 0;
    }

  private:
    std::map<int, std::FILE*> m_files;
    int m_nLast = 2;
    bool m_bOpen = false;
};
