#include "packager/banner/banner.h"

#include <cctype>

#include "packager/shell/history.h"
#include "platform/files.h"
#include "platform/settings.h"

namespace {

std::string UpperExtension(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string ext = name.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

std::string BannerFolderFor(const std::string& programPath) {
    return platform::JoinPath(platform::FolderOf(programPath), "banners");
}

void PrepareBannerFolder(const std::string& folder) {
    // The folder is created as "Banners"; names compare without regard to case on
    // Windows, and elsewhere the name the program looks for is the one made.
#ifdef _WIN32
    platform::FolderCreate(platform::JoinPath(platform::FolderOf(folder), "Banners"));
#else
    platform::FolderCreate(folder);
#endif
}

std::string ReadBannerSetting(const std::string& folder, const std::string& key,
                              const std::string& defaultValue) {
    char buffer[256];
    platform::ReadProfileFileString(platform::JoinPath(folder, "banners.ini"), "Custom", key,
                                    defaultValue, buffer, sizeof(buffer));
    return buffer;
}

std::vector<std::string> FindBannerNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const platform::FindData& entry :
         platform::ListFolder(platform::JoinPath(folder, "*.*"))) {
        if (entry.name.empty() || entry.name[0] == '.')
            continue;
        if (UpperExtension(entry.name) == ".BMP")
            names.push_back(entry.name);
    }
    return names;
}

std::string CBannerRotation::Tick() {
    if (m_names.empty())
        return std::string();
    if (m_nCurrent < 0 || m_nCurrent >= static_cast<int>(m_names.size()))
        m_nCurrent = 0;
    std::string name = m_names[static_cast<size_t>(m_nCurrent)];
    if (++m_nCurrent >= static_cast<int>(m_names.size()))
        m_nCurrent = 0;
    return name;
}

int RunBannerUpdate(const std::string& folder, const BannerDownload& download,
                    IBannerUpdateView& view) {
    std::string server = ReadBannerSetting(folder, "Dir", kVendorBannerFolder);
    view.SetMessage("Connecting to server...");
    view.SetPosition(0);
    download(server + "/banners.ini", platform::JoinPath(folder, "banners.ini"), true);
    view.SetMessage("Retrieving Quillbox updates...");
    int k = 1;
    for (; k <= kMaxBannerPictures; ++k) {
        std::string name = std::to_string(k) + ".bmp";
        if (!download(server + "/" + name, platform::JoinPath(folder, name), false))
            break;
        view.SetPosition(10 * k);
    }
    return k - 1;
}

bool StepBannerCounter(const std::function<void()>& update) {
    int n = platform::ReadSettingInt("User", "Banners", 0) + 1;
    bool ran = false;
    if (n > 4) {
        update();
        n = 0;
        ran = true;
    }
    platform::WriteSettingInt("User", "Banners", n);
    return ran;
}
