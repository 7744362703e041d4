// The resources of the built player executable, read back as data: menu
// 1000, dialog 1004 and icon group 101, all in language 1033, against the
// layout they must have. Argument: the player's path (a Unix path is taken
// through Wine's drive Z:).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "resources/about_texts.h"
#include "resources/resource_ids.h"

namespace {

const WORD englishUnitedStates = 1033;

std::string PlayerPath() {
    if (__argc < 2) {
        return "";
    }
    std::string path = __argv[1];
    return path[0] == '/' ? "Z:" + path : path;
}

class PlayerResources : public testing::Test {
protected:
    static void SetUpTestSuite() {
        module = LoadLibraryExA(PlayerPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }

    void SetUp() override {
        ASSERT_NE(nullptr, module) << "cannot open the player \"" << PlayerPath() << "\"";
    }

    // The resource's bytes in language 1033; empty when there is none.
    static std::vector<uint8_t> Load(LPCSTR type, WORD id) {
        HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), englishUnitedStates);
        if (found == nullptr) {
            return {};
        }
        const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
        return std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found));
    }

    static HMODULE module;
};

HMODULE PlayerResources::module;

// Reads a resource template front to back; every read checks the end.
class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes(bytes) {}

    bool Ok() const { return ok; }
    size_t Position() const { return pos; }

    uint16_t Word() {
        if (pos + 2 > bytes.size()) {
            ok = false;
            return 0;
        }
        const uint16_t value = static_cast<uint16_t>(bytes[pos] | bytes[pos + 1] << 8);
        pos += 2;
        return value;
    }

    uint32_t Dword() {
        const uint32_t low = Word();
        return low | static_cast<uint32_t>(Word()) << 16;
    }

    // A zero-terminated UTF-16 string of ASCII text.
    std::string Text() {
        std::string text;
        for (uint16_t c = Word(); ok && c != 0; c = Word()) {
            text += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return text;
    }

    // A class, menu or title field: 0xFFFF and an ordinal, or a string.
    std::string NameOrOrdinal() {
        if (pos + 2 <= bytes.size() && bytes[pos] == 0xFF && bytes[pos + 1] == 0xFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return Text();
    }

    void AlignToDword() { pos = (pos + 3) & ~size_t(3); }

private:
    const std::vector<uint8_t>& bytes;
    size_t pos = 0;
    bool ok = true;
};

TEST_F(PlayerResources, MenuHasFileExitAndHelpAbout) {
    const std::vector<uint8_t> menu = Load(RT_MENU, IDM_MAIN_MENU);
    ASSERT_FALSE(menu.empty()) << "no menu 1000 in language 1033";
    Reader reader(menu);
    EXPECT_EQ(0u, reader.Dword()) << "menu template header";
    std::string items;
    while (reader.Ok() && reader.Position() < menu.size()) {
        const uint16_t flags = reader.Word();
        items += (flags & MF_POPUP) ? "popup" : "item " + std::to_string(reader.Word());
        items += " \"" + reader.Text() + "\"";
        items += (flags & MF_END) ? " end; " : "; ";
        if ((flags & ~(MF_POPUP | MF_END)) != 0) {
            items += "(flags " + std::to_string(flags) + ") ";
        }
    }
    EXPECT_TRUE(reader.Ok());
    EXPECT_EQ("popup \"&File\"; item 1002 \"E&xit\" end; "
              "popup \"&Help\" end; item 1003 \"&About\" end; ",
              items);
}

struct ControlTemplate {
    uint32_t style;
    int16_t x, y, cx, cy;
    uint16_t id;
    const char* windowClass;  // ordinal of the predefined class
    const char* text;
};

const char* const button = "#128";
const char* const staticText = "#130";

const ControlTemplate aboutControls[15] = {
    {0x50010301, 170, 147, 50, 14, 1, button, "Ok"},
    {0x50000003, 4, 9, 18, 20, 0xFFFF, staticText, "AppIcon"},
    {0x50020007, 36, 8, 188, 40, 0xFFFF, button, "Lumeroot"},
    {0x50000000, 40, 17, 108, 8, 0xFFFF, staticText, "Version 1.0, Release B"},
    {0x50000000, 40, 26, 108, 8, 0xFFFF, staticText, ABOUT_RIGHTS_TEXT},
    {0x50000000, 40, 36, 108, 8, 0xFFFF, staticText, ABOUT_TOWN_TEXT},
    {0x50020007, 36, 52, 188, 40, 0xFFFF, button, ""},
    {0x50000002, 40, 59, 76, 8, 0xFFFF, staticText, "World Wide Web:"},
    {0x50000000, 123, 59, 80, 8, 0xFFFF, staticText, ABOUT_WEB_TEXT},
    {0x50000002, 40, 68, 76, 8, 0xFFFF, staticText, "Sales Inquiry E-Mail:"},
    {0x50000000, 123, 68, 94, 8, 0xFFFF, staticText, ABOUT_SALES_TEXT},
    {0x50000002, 40, 77, 76, 8, 0xFFFF, staticText, "Tech. Support E-Mail:"},
    {0x50000000, 123, 77, 90, 8, 0xFFFF, staticText, ABOUT_SUPPORT_TEXT},
    {0x50020007, 36, 96, 188, 48, 0xFFFF, button, ""},
    {0x50000000, 40, 102, 172, 39, 0xFFFF, staticText, ABOUT_NOTICE_TEXT},
};

TEST_F(PlayerResources, AboutDialogTemplate) {
    const std::vector<uint8_t> dialog = Load(RT_DIALOG, IDD_ABOUT);
    ASSERT_FALSE(dialog.empty()) << "no dialog 1004 in language 1033";
    Reader reader(dialog);
    EXPECT_EQ(0x90C808C4u, reader.Dword()) << "style";
    EXPECT_EQ(0u, reader.Dword()) << "extended style";
    const uint16_t count = reader.Word();
    EXPECT_EQ(15, count);
    EXPECT_EQ(100, static_cast<int16_t>(reader.Word()));
    EXPECT_EQ(101, static_cast<int16_t>(reader.Word()));
    EXPECT_EQ(230, static_cast<int16_t>(reader.Word()));
    EXPECT_EQ(164, static_cast<int16_t>(reader.Word()));
    EXPECT_EQ("", reader.NameOrOrdinal()) << "menu";
    EXPECT_EQ("", reader.NameOrOrdinal()) << "class";
    EXPECT_EQ("About Lumeroot", reader.Text());
    EXPECT_EQ(8, reader.Word()) << "font size";
    EXPECT_EQ("MS Sans Serif", reader.Text());

    for (int i = 0; i < count && i < 15; ++i) {
        const ControlTemplate& want = aboutControls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        reader.AlignToDword();
        EXPECT_EQ(want.style, reader.Dword()) << "style";
        EXPECT_EQ(0u, reader.Dword()) << "extended style";
        EXPECT_EQ(want.x, static_cast<int16_t>(reader.Word()));
        EXPECT_EQ(want.y, static_cast<int16_t>(reader.Word()));
        EXPECT_EQ(want.cx, static_cast<int16_t>(reader.Word()));
        EXPECT_EQ(want.cy, static_cast<int16_t>(reader.Word()));
        EXPECT_EQ(want.id, reader.Word()) << "id";
        EXPECT_EQ(want.windowClass, reader.NameOrOrdinal());
        EXPECT_EQ(want.text, reader.NameOrOrdinal());
        EXPECT_EQ(0, reader.Word()) << "creation data";
    }
    EXPECT_TRUE(reader.Ok()) << "template ends early";
}

// The standard 16-colour VGA palette, as RGBQUAD bytes (blue, green, red).
const uint8_t vgaPalette[16][3] = {
    {0x00, 0x00, 0x00}, {0x00, 0x00, 0x80}, {0x00, 0x80, 0x00}, {0x00, 0x80, 0x80},
    {0x80, 0x00, 0x00}, {0x80, 0x00, 0x80}, {0x80, 0x80, 0x00}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0x00, 0x00, 0xFF}, {0x00, 0xFF, 0x00}, {0x00, 0xFF, 0xFF},
    {0xFF, 0x00, 0x00}, {0xFF, 0x00, 0xFF}, {0xFF, 0xFF, 0x00}, {0xFF, 0xFF, 0xFF},
};

struct IconImage {
    uint8_t size;
    uint32_t bytes;
    uint16_t id;
};

const IconImage iconImages[2] = {{32, 744, 1}, {16, 296, 2}};

TEST_F(PlayerResources, IconGroupHoldsTwoSixteenColourImages) {
    const std::vector<uint8_t> group = Load(RT_GROUP_ICON, IDI_APP_ICON);
    ASSERT_FALSE(group.empty()) << "no icon group 101 in language 1033";
    Reader reader(group);
    EXPECT_EQ(0, reader.Word());
    EXPECT_EQ(1, reader.Word()) << "type: icon";
    ASSERT_EQ(2, reader.Word()) << "image count";
    for (const IconImage& want : iconImages) {
        SCOPED_TRACE("image " + std::to_string(want.id));
        const uint16_t widthHeight = reader.Word();
        EXPECT_EQ(want.size, widthHeight & 0xFF);
        EXPECT_EQ(want.size, widthHeight >> 8);
        EXPECT_EQ(16, reader.Word() & 0xFF) << "colour count";
        EXPECT_EQ(1, reader.Word()) << "planes";
        EXPECT_EQ(4, reader.Word()) << "bits per pixel";
        EXPECT_EQ(want.bytes, reader.Dword());
        EXPECT_EQ(want.id, reader.Word());

        const std::vector<uint8_t> image = Load(RT_ICON, want.id);
        ASSERT_EQ(want.bytes, image.size());
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data(), sizeof header);
        EXPECT_EQ(40u, header.biSize);
        EXPECT_EQ(want.size, header.biWidth);
        EXPECT_EQ(2 * want.size, header.biHeight) << "colour and mask planes";
        EXPECT_EQ(1, header.biPlanes);
        EXPECT_EQ(4, header.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
        for (int i = 0; i < 16; ++i) {
            const uint8_t* entry = image.data() + 40 + 4 * i;
            EXPECT_EQ(0, std::memcmp(entry, vgaPalette[i], 3)) << "palette entry " << i;
        }
        // The corners lie outside the picture: set in the AND mask.
        const uint8_t* mask = image.data() + 40 + 64 + want.size * want.size / 2;
        EXPECT_EQ(0x80, mask[0] & 0x80) << "bottom-left pixel not transparent";
    }
}

struct FoundLanguages {
    std::vector<WORD> languages;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<FoundLanguages*>(param)->languages.push_back(language);
    return TRUE;
}

// Nothing of the program's interface is left in another language.
TEST_F(PlayerResources, EveryResourceIsInEnglishUnitedStates) {
    FoundLanguages found;
    const struct {
        LPCSTR type;
        WORD id;
    } resources[] = {{RT_MENU, IDM_MAIN_MENU}, {RT_DIALOG, IDD_ABOUT},
                     {RT_GROUP_ICON, IDI_APP_ICON}, {RT_ICON, 1}, {RT_ICON, 2}};
    for (const auto& resource : resources) {
        found.languages.clear();
        EnumResourceLanguagesA(
            module, resource.type, MAKEINTRESOURCEA(resource.id), CollectLanguage,
            reinterpret_cast<LONG_PTR>(&found));
        EXPECT_EQ(std::vector<WORD>{englishUnitedStates}, found.languages)
            << "resource " << resource.id;
    }
}

}  // namespace
