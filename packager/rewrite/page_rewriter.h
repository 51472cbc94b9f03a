// The page rewriter: walks a saved page from tag to tag, points its pictures, backgrounds,
// frames and (unless styles are off) stylesheets, icons, srcset candidates, posters and lazy
// pictures at local names, makes its other references absolute, drops its scripts and adds
// the footer. It keeps no state of its own: the caller's CLocalNames names every address,
// and the references it pointed at local names come back in a list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packager/address/progress.h"
#include "packager/rewrite/references.h"

// Footer paragraph put before every closing body tag (string table id 117). Its address is
// the makers' information page.
constexpr int kFooterStringId = 117;
extern const char* const kFooterText;

struct CRewriteOptions {
    // Stylesheets, <style> and style= text, icons, srcset, posters and lazy pictures are
    // captured. Off, the page comes out as the classic rewriter made it.
    bool bKeepStyles = true;
    // Links, form actions and CODEBASE keep the text the page had (resolved against an
    // empty address) while pictures and frames resolve against the page's own address:
    // a local page, whose address names a folder of the packager's machine.
    bool bLinksAsWritten = false;
};

class CPageRewriter {
  public:
    // Rewrites page text in place. True when the page was already processed or was walked to
    // its end; false when progress stopped it (text then holds what was done). pageAddress
    // may be replaced by a BASE tag. Every reference pointed at a local name is appended to
    // found, in page order.
    bool ProcessPage(std::string& pageAddress, std::string& text, CLocalNames& names,
                     CReferenceList& found, CGrabProgress& progress,
                     const CRewriteOptions& options = CRewriteOptions()) const;
    // True when text is empty or holds a processed marker within its first 50 characters.
    static bool IsAlreadyProcessed(const std::string& text);

    // Removes white space around every "=" of a tag text.
    static void TightenEquals(std::string& text);
    // Trims white space and takes as many characters off the end as there are leading quotes.
    static void StripQuotes(std::string& value);

    // One candidate of a srcset value: its address and its descriptors ("2x", "480w"), as
    // written.
    struct SrcsetCandidate {
        std::string strUrl;
        std::string strDescriptors;
    };
    // The candidates of a srcset value in order (the HTML rules: commas end candidates,
    // an address ends at white space, trailing commas of an address are not part of it).
    static std::vector<SrcsetCandidate> ParseSrcset(const std::string& value);
    // Whether a rel value holds a token (white-space separated, any case) equal to `token`
    // (exact) or, with partial, containing it.
    static bool RelHasToken(const std::string& rel, const char* token, bool partial = false);
};
