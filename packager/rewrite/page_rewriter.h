// The page rewriter: walks a saved page from tag to tag, points its pictures, backgrounds and
// frames at local copies (recording what to fetch), makes its other references absolute,
// drops its scripts and adds the footer. It keeps no state of its own; the lists belong to
// the grabber.
#pragma once

#include <cstdint>
#include <string>

#include "packager/fetch/grab_job.h"
#include "packager/fetch/grabber.h"

// Footer paragraph put before every closing body tag (string table id 117). Its address is
// the makers' information page.
constexpr int kFooterStringId = 117;
extern const char* const kFooterText;

class CPageRewriter {
  public:
    // The lists a page's references go to (the grabber's), and the work folder.
    struct Targets {
        const std::string& strFolder;
        CStringList& lstFrames;
        CStringList& lstFramePaths;
        CStringList& lstResources;
        CStringArray& arrResourceNames;
        CFrameMap* pQueuedFrames;  // frames queued earlier in the grab, or null
    };

    // Rewrites page text in place. True when the page was already processed or was walked to
    // its end; false when the progress callback stopped it (text then holds what was done).
    // pageAddress may be replaced by a BASE tag. pQueuedFrames, when given, remembers every
    // frame queued during the grab so that none is queued twice.
    bool ProcessPage(std::string& pageAddress, std::string& text, const std::string& folder,
                     CStringList& lstFrames, CStringList& lstFramePaths, CStringList& lstResources,
                     CStringArray& arrResourceNames, const GrabJob& job,
                     CFrameMap* pQueuedFrames = nullptr) const;
    // True when text is empty or holds a processed marker within its first 50 characters.
    static bool IsAlreadyProcessed(const std::string& text);

    // Removes white space around every "=" of a tag text.
    static void TightenEquals(std::string& text);
    // Rewrites the attributes of a tag text; name receives the first token.
    void RewriteTag(std::string& name, std::string& text, std::string& pageAddress,
                    const Targets& targets) const;
    // Rewrites, empties or keeps one attribute token of a tag.
    void RewriteAttribute(const std::string& tagName, std::string& token, std::string& pageAddress,
                          const Targets& targets) const;
    // Token's value becomes the absolute address ("#..." anchors stay).
    static void MakeAbsolute(const std::string& pageAddress, std::string& token);
    // The page address becomes the token's value resolved against it.
    static void SetBase(std::string& pageAddress, const std::string& token);
    // Token's value becomes a fresh local name; the address is recorded for download.
    static void AddResource(std::string& token, const std::string& pageAddress,
                            CStringList& lstResources, CStringArray& arrResourceNames);
    // Token's value becomes the frame page's local name; the page is queued once.
    static void AddFrame(std::string& token, const std::string& pageAddress,
                         const std::string& folder, CStringList& lstFrames,
                         CStringList& lstFramePaths, CFrameMap* pQueuedFrames);
    // Trims white space and takes as many characters off the end as there are leading quotes.
    static void StripQuotes(std::string& value);
    // A fresh local name "QBT<hex>" with the address's extension; advances the name counter.
    static std::string MakeLocalName(const std::string& absoluteAddress);

    // The process-wide name counter (0 at start, one more for every name made).
    static uint32_t GetNameCounter();
    // Sets the counter and starts the run's names over: every number is free again.
    static void SetNameCounter(uint32_t value);
};
