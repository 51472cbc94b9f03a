// What the page pass and the CSS pass hand back: the references they pointed at local
// names. The passes never fetch and never keep state; the caller's CLocalNames gives every
// address its name (the same address always the same name) and decides what is captured.
#pragma once

#include <string>
#include <vector>

// What an entry of a grab is; also the kind of a reference when it is found.
enum class EntryKind { Page, Frame, Picture, Stylesheet, Font, Other };

// One reference the pass rewrote to a local name, in the order found.
struct CFoundReference {
    EntryKind kind;
    std::string strAddress;    // absolute, fragment removed
    std::string strLocalName;  // the name written into the text
};
using CReferenceList = std::vector<CFoundReference>;

class CLocalNames {
  public:
    virtual ~CLocalNames() = default;
    // The local name of absoluteAddress (its fragment already removed). An address seen
    // before keeps its first name. Empty when the address is not to be captured (the
    // pass then points the reference back at the web).
    virtual std::string NameFor(const std::string& absoluteAddress, EntryKind kind) = 0;
};
