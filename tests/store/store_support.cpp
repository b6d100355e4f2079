#include "store_support.h"

#include "store/store.h"
#include "store/store_lock.h"

#include "app/shell.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
int directoryCounter = 0;

void RemoveTree(const std::string& directory)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = directory + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path + "\\");
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}
}  // namespace

void StoreDirectory::SetUp()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char name[64];
    std::snprintf(name, sizeof name, "pagorex_store_%lu_%d\\", GetCurrentProcessId(), ++directoryCounter);
    directory = std::string(temp) + name;
    RemoveTree(directory);
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr)) << directory;
    boxes::WatchStoreLock(directory + "pagorex.idx");
    UseRecord(1);
    appInstance = GetModuleHandleA(nullptr);
    std::strcpy(appName, "PAGOREX");
    window = CreateWindowExA(0, "STATIC", "untouched", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                             appInstance, nullptr);
    ASSERT_NE(window, nullptr);
    mainWindow = window;
    shell = std::make_unique<ShellStore>(window);
}

void StoreDirectory::TearDown()
{
    EXPECT_EQ(boxes::BoxesShownWhileStoreLocked(), std::vector<std::string>{});
    boxes::WatchStoreLock("");
    if (window)
        DestroyWindow(window);
    mainWindow = nullptr;
    shell.reset();
    RemoveTree(directory);
}

void StoreDirectory::UseRecord(int32_t number)
{
    ParseCommandLine((std::to_string(number) + " " + directory + "host.db").c_str());
}

StoreFiles StoreDirectory::Files() const
{
    return StoreFiles(shell->StoreDirectory());
}

void StoreDirectory::Write(const char* name, const Bytes& bytes) const
{
    FILE* file = std::fopen(Path(name).c_str(), "wb");
    ASSERT_NE(file, nullptr) << name;
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

Bytes StoreDirectory::Read(const char* name) const
{
    Bytes bytes;
    FILE* file = std::fopen(Path(name).c_str(), "rb");
    if (!file)
        return bytes;
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

bool StoreDirectory::Exists(const char* name) const
{
    return GetFileAttributesA(Path(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void StoreDirectory::MakeDirectoryAt(const char* name) const
{
    ASSERT_TRUE(CreateDirectoryA(Path(name).c_str(), nullptr)) << name;
}

std::vector<IndexRecord> StoreDirectory::Records() const
{
    Bytes bytes = Read("pagorex.idx");
    std::vector<IndexRecord> records(IndexRecordCount(static_cast<uint32_t>(bytes.size())));
    for (size_t i = 0; i < records.size(); ++i)
        DecodeIndexRecord(std::span(bytes).subspan(i * kIndexRecordSize), records[i]);
    return records;
}

int RecordingHost::Message(const char* text, const char* caption, unsigned)
{
    EXPECT_FALSE(StoreLockHeld()) << "told while the store was held: " << text;
    messages.push_back(std::string(caption ? caption : "(program)") + ": " + text);
    return IDYES;
}

void RecordingHost::ShowImage(ImageFileSource* image)
{
    shown = Bytes{};
    uint8_t buffer[4096];
    for (int64_t read; image && (read = image->Read(buffer, sizeof buffer)) > 0;)
        shown->insert(shown->end(), buffer, buffer + read);
}

void RecordingHost::AddPage(ImageFileSource* image)
{
    std::optional<Bytes> before = std::move(shown);
    ShowImage(image);
    pages.push_back(*shown);
    shown = std::move(before);
}

bool RecordingHost::WaitForStore()
{
    ++waits;
    return onWait ? onWait(waits) : waits < 300;
}

Bytes RecordBytes(const IndexRecord& record)
{
    Bytes bytes(kIndexRecordSize);
    EncodeIndexRecord(record, bytes);
    return bytes;
}

IndexRecord MakeRecord(int32_t number, uint32_t offset, uint32_t stored, uint8_t compressed, uint32_t imageLength,
                       uint8_t deleted)
{
    IndexRecord record{};
    record.deleted = deleted;
    record.recordNumber = number;
    record.dataOffset = offset;
    record.storedLength = stored;
    record.compressed = compressed;
    record.imageLength = imageLength;
    return record;
}

void FillReserved(IndexRecord& record, uint8_t seed)
{
    for (size_t i = 0; i < sizeof record.reserved; ++i)
        record.reserved[i] = static_cast<uint8_t>(seed + i * 7);
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Pattern(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

Bytes Gzip(const Bytes& bytes)
{
    char path[MAX_PATH], temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    GetTempFileNameA(temp, "pgz", 0, path);
    gzFile file = gzopen(path, "wb9");
    if (!bytes.empty())
        gzwrite(file, bytes.data(), static_cast<unsigned>(bytes.size()));
    gzclose(file);
    Bytes member;
    FILE* in = std::fopen(path, "rb");
    int c;
    while ((c = std::fgetc(in)) != EOF)
        member.push_back(static_cast<uint8_t>(c));
    std::fclose(in);
    DeleteFileA(path);
    return member;
}

Bytes Gunzip(const Bytes& member)
{
    char path[MAX_PATH], temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    GetTempFileNameA(temp, "pgz", 0, path);
    FILE* out = std::fopen(path, "wb");
    std::fwrite(member.data(), 1, member.size(), out);
    std::fclose(out);
    gzFile file = gzopen(path, "rb");
    Bytes bytes;
    uint8_t chunk[4096];
    int got;
    while ((got = gzread(file, chunk, sizeof chunk)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    gzclose(file);
    DeleteFileA(path);
    return bytes;
}

Bytes PackedDib(int width, int height, uint8_t seed)
{
    uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = rowBytes * static_cast<uint32_t>(height);
    header.biXPelsPerMeter = header.biYPelsPerMeter = 11811;
    Bytes bytes(reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header) + sizeof header);
    Bytes pixels = Pattern(header.biSizeImage, seed);
    for (int row = 0; row < height; ++row)  // the padding bytes are zero
        for (uint32_t i = static_cast<uint32_t>(width) * 3; i < rowBytes; ++i)
            pixels[row * rowBytes + i] = 0;
    return Concat({bytes, pixels});
}

Bytes BitmapFile(const Bytes& packedDib)
{
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + packedDib.size());
    Bytes bytes(reinterpret_cast<uint8_t*>(&file), reinterpret_cast<uint8_t*>(&file) + sizeof file);
    return Concat({bytes, packedDib});
}

HGLOBAL DibFromBytes(const Bytes& packedDib)
{
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, packedDib.size());
    std::memcpy(GlobalLock(dib), packedDib.data(), packedDib.size());
    GlobalUnlock(dib);
    return dib;
}

Bytes BytesOfDib(HGLOBAL dib)
{
    if (!dib)
        return {};
    auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
    uint32_t rowBytes = (static_cast<uint32_t>(header->biWidth) * header->biBitCount + 31) / 32 * 4;
    size_t size = header->biSize + rowBytes * static_cast<uint32_t>(std::abs(header->biHeight));
    Bytes bytes(reinterpret_cast<const uint8_t*>(header), reinterpret_cast<const uint8_t*>(header) + size);
    GlobalUnlock(dib);
    return bytes;
}

namespace {
int WriteThroughStore(const char* path, const Bytes& imageFile)
{
    std::string full = path;
    ScopedStoreFile file(StoreFiles(full.substr(0, full.rfind('\\') + 1).c_str()).Create(kSecondWorkFileName));
    bool written = file && WriteStoreFile(file.get(), imageFile.data(), static_cast<uint32_t>(imageFile.size()));
    return written ? 0 : -2;
}
}  // namespace

bool SaveImageFile(StoreHost& host, const Bytes& imageFile)
{
    ImageFileWriter writer = [&imageFile](const char* path) { return WriteThroughStore(path, imageFile); };
    return SaveRecord(host, &writer).stored;
}

bool SavePages(StoreHost& host, const std::vector<Bytes>& pages)
{
    PageFileWriter writer = [&pages](uint32_t page, const char* path) { return WriteThroughStore(path, pages.at(page)); };
    return SaveDocument(host, static_cast<uint32_t>(pages.size()), writer).stored;
}

std::vector<Bytes> LoadPages(const std::string& directory, int32_t record, std::vector<std::string>* told)
{
    RecordingHost host(directory, record);
    LoadRecordImage(host);
    if (told)
        *told = host.messages;
    std::vector<Bytes> pages = host.pages;
    pages.insert(pages.begin(), host.shown.value_or(Bytes{}));
    return pages;
}

bool SaveNoImage(StoreHost& host)
{
    return SaveRecord(host, nullptr).stored;
}
