// A host for the extractor driver that works on real files in a test folder but scripts the
// user: it records every message, question, progress step and launch, and answers from
// queues set up by the test.
#pragma once

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
        return it == m_files.end() ? -1
                                   : static_cast<long>(std::fwrite(buffer, 1, count, it->second));
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
    void PumpProgress() override {}
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
