// Starts the fixture web server (tests/fixtures/server/server.py) on 127.0.0.1
// for one test and stops it afterwards. Works natively and under Wine, where
// the Windows test starts the host's python3 and talks to it over loopback.
#pragma once

#include <string>
#include <vector>

class FixtureServer {
  public:
    FixtureServer() = default;
    ~FixtureServer() { Stop(); }
    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;

    // Starts the server with extra arguments (such as "--auth", "u:p"); root is
    // the folder it serves. False when it does not come up within a few seconds.
    bool Start(const std::string& root, const std::vector<std::string>& extra = {});
    void Stop();

    int port() const { return m_nPort; }
    // "http://127.0.0.1:<port>" (or https when started with a certificate).
    std::string Base() const;
    // Request log lines: "<path> auth=<Authorization or -> host=<Host or -> conn=<n> open=<n>"
    // (conn numbers the connection from 1; open counts the connections open at that moment).
    std::vector<std::string> Requests() const;
    // Whether a request for path (with its query, as logged) arrived since the last clear.
    bool Asked(const std::string& path) const;
    // Empties the request log and the head log.
    void ClearRequests() const;
    // The heads of the requests since the last clear, as received: request line and header
    // lines, each ended by CR LF, without the empty line that ends the head.
    std::vector<std::string> RequestHeads() const;
    // Distinct connections that carried the logged requests, and the most open at once.
    int Connections() const;
    int PeakOpenConnections() const;

  private:
    int m_nPort = 0;
    bool m_bTls = false;
    std::string m_strDir;  // host path of the scratch folder
};

// A fresh scratch folder on the host file system (host path, with "/").
std::string MakeHostScratch(const std::string& tag);
// The path by which this process reaches a host path (Z:\... under Wine).
std::string HostToLocal(const std::string& hostPath);
// The source tree's folder of fixture sites, as a host path.
std::string FixtureSites();
// Runs a host command line to its end (openssl and the like); true on exit status 0.
bool RunHost(const std::string& commandLine);
// Makes certificates in a host folder for TLS tests: good.pem/key (127.0.0.1),
// other.pem/key (other.example), stranger.pem/key (127.0.0.1, not trusted) and
// trusted.pem (good and other), the bundle to name in SSL_CERT_FILE.
bool MakeTestCertificates(const std::string& hostDir);
// Whole file, or "" when it cannot be read (local path).
std::string ReadWhole(const std::string& localPath);
bool WriteWhole(const std::string& localPath, const std::string& data);
