#pragma once
// The real program with the virtual scanner as its TWAIN source (installed by wine-run):
// each test writes the scanner's profile, answers its window as the person at the
// scanner would, and reads the scanner's log of every triplet.

#include "e2e.h"
#include "support/store_files.h"
#include "tools/vscanner/page.h"

#include <string>
#include <vector>

// The log line of a source being closed (not to be taken for its MSG_CLOSEDSREQ).
inline constexpr char kSourceClosed[] = "DAT_IDENTITY/MSG_CLOSEDS";

class ScannerTest : public ProgramTest {
protected:
    static constexpr int kWidth = 96, kHeight = 64;
    // The scanner's page with the profile's size, as the program receives it by default.
    static constexpr vs::PageFormat kRgbPage{kWidth, kHeight, 24, TWPT_RGB, 100};

    void SetUp() override;
    void TearDown() override;

    // The profile, always with the small page above in front of extra.
    void UseProfile(const std::string& extra = "");
    std::vector<std::string> Log() const;
    // Log lines containing text.
    int LogCount(const std::string& text) const;
    // Waits until the log holds count lines containing text; false on timeout.
    bool WaitForLog(const std::string& text, int count = 1, DWORD timeoutMs = 15000) const;

    // A message box or dialog of the program with this caption; empty on timeout.
    driver::MessageBoxInfo WaitForCaption(const std::string& caption, DWORD timeoutMs = 15000);
    // Presses a button of the scanner's own window ("Virtual Scanner") once it shows:
    // IDOK is Scan, IDCANCEL Cancel. True once the scanner has taken the press.
    bool ScannerButton(int button);
    // Answers a message box: expects its caption and text, presses OK.
    void AnswerBox(const std::string& caption, const std::string& text);
    // No dialog or message box of the program shows up for a while.
    void ExpectNoBox(DWORD forMs = 800);

    // The window shows page number `page` of format, pixel for pixel.
    void ExpectShowsPage(const vs::PageFormat& format, int page);
    // A store whose record holds a 24-bit image of one colour; answers the image file.
    storefiles::Bytes StoreImage(int record, uint32_t colour);
    // The image the store holds for record (empty when none or deleted).
    storefiles::Bytes StoredImage(int record) const;

    std::string profilePath_, logPath_;
    HWND scannerWindow_ = nullptr;  // the scanner's window ScannerButton pressed last
};
