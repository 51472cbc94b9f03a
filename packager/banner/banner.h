// The banner strip of the main window: pictures in the "banners" folder beside the
// program, shown in turn; banners.ini says what a click opens and where the update
// fetches fresh pictures from; the update runs on every fifth start.
//
// This header holds the parts that are logic (folder, settings, rotation, counter,
// update loop); the window is in banner_window_win32.h.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Where a click goes and where the update looks when banners.ini says nothing.
constexpr const char* kVendorBannerFolder = "http://www.tarnwick.example/quillbox/banners";

// The program file's folder (up to its last separator) plus "banners".
std::string BannerFolderFor(const std::string& programPath);
// Creates the folder (an error, for instance because it exists, is ignored).
void PrepareBannerFolder(const std::string& folder);
// A value of section "Custom" of the folder's banners.ini, read with a 256-character
// buffer (longer values are cut to 255 characters); `defaultValue` when absent.
std::string ReadBannerSetting(const std::string& folder, const std::string& key,
                              const std::string& defaultValue);
// Names (without folder) of the pictures in the folder, in enumeration order: every
// entry whose upper-cased extension is ".BMP" and whose name does not begin with ".".
std::vector<std::string> FindBannerNames(const std::string& folder);

// The rotation: the first picture is shown at creation; every tick shows the name at
// the current index and moves the index on, round and round.
class CBannerRotation {
  public:
    explicit CBannerRotation(std::vector<std::string> names) : m_names(std::move(names)) {}
    // The name for this tick; empty when there are none.
    std::string Tick();
    // A timer is needed only for two or more pictures.
    bool NeedsTimer() const { return m_names.size() >= 2; }
    const std::vector<std::string>& Names() const { return m_names; }
    void Clear() { m_names.clear(); }
    int CurrentIndex() const { return m_nCurrent; }

  private:
    std::vector<std::string> m_names;
    int m_nCurrent = 0;
};

// What the update shows while it runs.
class IBannerUpdateView {
  public:
    virtual ~IBannerUpdateView() = default;
    virtual void SetMessage(const std::string& text) = 0;
    virtual void SetPosition(int position) = 0;
};

// Downloads source to destination (text mode or raw bytes); true on success.
using BannerDownload =
    std::function<bool(const std::string& source, const std::string& destination, bool textMode)>;

// The most pictures one update fetches: a server that answers every name must not
// fill the disk.
constexpr int kMaxBannerPictures = 100;

// The update: banners.ini first (its result is not looked at), then 1.bmp, 2.bmp, ...
// until the first failure, the bar at 10 per picture. Returns the number of pictures.
int RunBannerUpdate(const std::string& folder, const BannerDownload& download,
                    IBannerUpdateView& view);

// Once per start: the "Banners" counter of section "User" goes up by one; above 4
// the update runs and the counter starts again at 0. Returns whether it ran.
bool StepBannerCounter(const std::function<void()>& update);
