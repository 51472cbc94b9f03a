// The scripts the rendered capture evaluates in the page (never in the packager's process).
#pragma once

// Scrolls through the page once, so that pictures that load when they come into view load,
// then back to the top. A promise of true.
extern const char kScrollThroughScript[];
// The document as the browser shows it, as a promise of a JSON text
// {"address": final address, "text": HTML, "frames": [{"address", "text"}, ...]}; see the
// file for what is written how.
extern const char kSerializeScript[];
