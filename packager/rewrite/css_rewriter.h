// The CSS pass: finds the references of a stylesheet, a <style> element's text or a style
// attribute (url(...) in every form, @import with a string or url()), points each at the
// local name its address gets and hands the references back. Comments and strings are
// respected; what cannot be read as a reference is copied as it stands, so bad CSS never
// fails anything.
#pragma once

#include <string>

#include "packager/rewrite/references.h"

struct CCssContext {
    std::string strBase;  // the address references resolve against
    CLocalNames& names;
    CReferenceList& found;
    // Whether @import targets are captured; beyond the depth bound they are not.
    bool bImports = true;
    // Where a reference is not captured: true points it at its absolute address (a page
    // from the web), false leaves it as written (a local page: no local path is written).
    bool bAbsoluteFallback = true;
};

// The CSS text with its references rewritten. Linear in the length of the text.
std::string RewriteCss(const std::string& css, const CCssContext& context);

// The value of a url() or a CSS string with its escapes resolved ("\\41 " is "A", "\\)" is
// ")", a backslash before a line break is dropped). Code points above 0x7F become UTF-8.
std::string UnescapeCss(const std::string& text);
