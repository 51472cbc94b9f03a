// A web address taken apart once, in the form every layer needs it: the fetcher's requests
// and redirects, the per-server bound of the pool, the credentials' server and the texts
// that name a server.
#pragma once

#include <cstdint>
#include <string>

struct CWebAddress {
    bool bSecure = false;  // https, else http
    std::string strHost;   // as the address writes it
    uint16_t nPort = 0;    // always set (the scheme's default when none is written)
    std::string strPath;   // from "/", without query and fragment
    std::string strQuery;  // from "?", or empty

    bool IsSet() const { return !strHost.empty(); }
    // What a request names: the path with its query.
    std::string Object() const { return strPath + strQuery; }
    // "host:port" as written, for texts shown to the user.
    std::string HostPort() const;
    // The one key of a server (what credentials belong to, what the per-server bound
    // counts): "host:port" with the host lower-cased.
    std::string ServerKey() const;
    // Scheme and host, with the port when it is not the scheme's own ("http://h:81").
    std::string Origin() const;
    // The whole address: Origin() + Object().
    std::string Text() const;
};

// Parses a web address as a request needs it: its canonical form, http or https, a host,
// the path from "/" ("http://h?q" asks for "/?q"), the fragment dropped. False for anything
// else, and for a host or path longer than an address may be.
bool ParseWebAddress(const std::string& address, CWebAddress& out);
// The same without the canonical form: the parts as written (host and path keep their case,
// dot segments and escapes stay; the host may be empty). False for what is not an http or
// https address.
bool SplitWebAddressAsWritten(const std::string& address, CWebAddress& out);
