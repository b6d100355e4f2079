#include "scanner.h"

#include <cstdio>
#include <fstream>

void ScannerTest::SetUp()
{
    ProgramTest::SetUp();
    profilePath_ = Path("scanner-profile.txt");
    logPath_ = Path("scanner-log.txt");
    // The program inherits them from the test.
    SetEnvironmentVariableA("VSCANNER_PROFILE", profilePath_.c_str());
    SetEnvironmentVariableA("VSCANNER_LOG", logPath_.c_str());
    UseProfile();
}

void ScannerTest::TearDown()
{
    if (HasFailure()) {
        for (const std::string& line : Log())
            std::printf("  scanner: %s\n", line.c_str());
    }
    SetEnvironmentVariableA("VSCANNER_PROFILE", nullptr);
    SetEnvironmentVariableA("VSCANNER_LOG", nullptr);
    ProgramTest::TearDown();
}

void ScannerTest::UseProfile(const std::string& extra)
{
    std::ofstream(profilePath_, std::ios::binary | std::ios::trunc)
        << "width = " << kWidth << "\nheight = " << kHeight << "\n" << extra;
}

std::vector<std::string> ScannerTest::Log() const
{
    std::ifstream in(logPath_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

int ScannerTest::LogCount(const std::string& text) const
{
    int count = 0;
    for (const std::string& line : Log())
        count += line.find(text) != std::string::npos;
    return count;
}

bool ScannerTest::WaitForLog(const std::string& text, int count, DWORD timeoutMs) const
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(30)) {
        if (LogCount(text) >= count)
            return true;
    }
    return false;
}

driver::MessageBoxInfo ScannerTest::WaitForCaption(const std::string& caption, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs;) {
        // A box that is closing (the scanner's window after Cancel) may still be listed.
        driver::MessageBoxInfo box = driver::WaitForMessageBox(program_, 200);
        if (box.window && box.caption == caption && IsWindowVisible(box.window))
            return box;
        Sleep(20);
    }
    return {};
}

bool ScannerTest::ScannerButton(int button)
{
    driver::MessageBoxInfo scanner = WaitForCaption("Virtual Scanner");
    if (!scanner.window)
        return false;
    scannerWindow_ = scanner.window;
    // A dialog that shows has been initialised, so the click needs no waiting before it;
    // the scanner's log tells when the dialog has taken it.
    const char* taken = button == IDOK ? "dialog: Scan" : "dialog: Cancel";
    const int before = LogCount(taken);
    return driver::PressButton(scanner.window, button) && WaitForLog(taken, before + 1);
}

void ScannerTest::AnswerBox(const std::string& caption, const std::string& text)
{
    driver::MessageBoxInfo box = WaitForCaption(caption);
    ASSERT_TRUE(box.window) << "no box \"" << caption << "\": " << text;
    EXPECT_EQ(box.text, text);
    driver::PressButton(box.window, IDOK);
    for (int i = 0; i < 250 && IsWindow(box.window); ++i)
        Sleep(20);
}

void ScannerTest::ExpectNoBox(DWORD forMs)
{
    // The scanner's window may still be closing after its last button.
    driver::MessageBoxInfo box = driver::WaitForMessageBox(program_, forMs, scannerWindow_);
    EXPECT_FALSE(box.window) << "unexpected box \"" << box.caption << "\": " << box.text;
    if (box.window)
        driver::PressButton(box.window, IDOK);
}

void ScannerTest::ExpectShowsPage(const vs::PageFormat& format, int page)
{
    int wrong = 0;
    std::string first;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 8000; Sleep(50)) {
        std::vector<COLORREF> pixels = driver::Pixels(program_.window, format.width, format.height);
        wrong = 0;
        first.clear();
        for (int y = 0; y < format.height; ++y) {
            for (int x = 0; x < format.width; ++x) {
                vs::Rgb c = vs::PagePixelColor(format, x, y, page);
                COLORREF seen = pixels[y * format.width + x];
                if (seen != RGB(c.red, c.green, c.blue) && wrong++ == 0) {
                    char text[96];
                    std::snprintf(text, sizeof text, "(%d,%d) shows %06lx, page has %02x%02x%02x", x, y,
                                  static_cast<unsigned long>(seen), c.blue, c.green, c.red);
                    first = text;
                }
            }
        }
        if (wrong == 0)
            break;
    }
    EXPECT_EQ(wrong, 0) << "the window does not show page " << page << ": " << first;
}

storefiles::Bytes ScannerTest::StoreImage(int record, uint32_t colour)
{
    static uint32_t fill;
    fill = colour;
    storefiles::Bytes image = storefiles::Bitmap24(kWidth, kHeight, [](int, int) { return fill; });
    storefiles::Bytes index, data;
    storefiles::AddRecord(index, data, record, image, true);
    driver::WriteFileBytes(Path("pagorex.idx"), index);
    driver::WriteFileBytes(Path("pagorex.dat"), data);
    return image;
}

storefiles::Bytes ScannerTest::StoredImage(int record) const
{
    storefiles::Bytes data = driver::ReadFileBytes(Path("pagorex.dat"));
    storefiles::Bytes found;
    for (const storefiles::Record& r : storefiles::DecodeIndex(driver::ReadFileBytes(Path("pagorex.idx"))))
        if (r.recordNumber == record)
            found = r.deleted ? storefiles::Bytes{} : storefiles::ImageOf(r, data);
    return found;
}
