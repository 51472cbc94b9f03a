// The check of an offline copy (--verify): the same browser shows the live page and then
// the copy with the network cut, and the two pictures are compared above the copy's footer.
#pragma once

#include <string>
#include <vector>

#include "packager/render/rendered_capture.h"

struct COfflineCheck {
    // 1 - the root mean square difference of the pictures' colours (0 to 1).
    double dSimilarity = 0;
    // Every address the copy still asked for (each refused).
    std::vector<std::string> tried;
};

// The copy below this similarity is not faithful enough to be called a copy of the page.
constexpr double kFaithfulCopy = 0.97;

// Shows liveAddress and the copy's main page (a local path) in one browser and compares
// them. False with the reason in error (empty when cancelled).
bool CheckOfflineCopy(const std::string& liveAddress, const std::string& mainPagePath,
                      const CRenderOptions& options, COfflineCheck& result, std::string& error);

// "offline copy matches the live page: 99.6 %"
std::string SimilarityLine(double similarity);
