// Rebuilds the disk after a power cut from the recorded writes and flushes.
#include "power_cut.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

namespace powercut {
namespace {
constexpr uint32_t kPage = 4096;
constexpr size_t kAllSubsetsUpTo = 8;  // pending pages; beyond, a sample
constexpr size_t kSampled = 12;

// A write of one page, or a cut of the file to offset (truncate).
struct Unit {
    uint32_t offset = 0;
    std::vector<uint8_t> bytes;
    bool truncate = false;
};

struct File {
    std::vector<uint8_t> durable;
    std::vector<Unit> pending;
};

void Apply(std::vector<uint8_t>& bytes, const Unit& unit)
{
    if (unit.truncate) {
        bytes.resize(unit.offset);
        return;
    }
    // A lost write before this one leaves zeros where the file grew past it.
    if (bytes.size() < unit.offset + unit.bytes.size())
        bytes.resize(unit.offset + unit.bytes.size());
    std::copy(unit.bytes.begin(), unit.bytes.end(), bytes.begin() + unit.offset);
}

void AddWrite(File& file, const StoreFileEvent& event)
{
    uint32_t at = event.offset;
    size_t done = 0;
    while (done < event.bytes.size()) {
        size_t piece = std::min<size_t>(event.bytes.size() - done, kPage - at % kPage);
        file.pending.push_back({at, {event.bytes.begin() + done, event.bytes.begin() + done + piece}, false});
        at += static_cast<uint32_t>(piece);
        done += piece;
    }
}

void Step(std::map<std::string, File>& files, const StoreFileEvent& event)
{
    using Kind = StoreFileEvent::Kind;
    switch (event.kind) {
    case Kind::Write:
        AddWrite(files[event.name], event);
        break;
    case Kind::Truncate:
        files[event.name].pending.push_back({event.offset, {}, true});
        break;
    case Kind::Flush:
        for (const Unit& unit : files[event.name].pending)
            Apply(files[event.name].durable, unit);
        files[event.name].pending.clear();
        break;
    case Kind::Create:
        files[event.name] = File{};
        break;
    case Kind::Delete:
        files.erase(event.name);
        break;
    case Kind::Replace:
    case Kind::Rename: {
        File moved = std::move(files[event.name]);
        files.erase(event.name);
        files[event.to] = std::move(moved);
        break;
    }
    }
}

// The disk when the pending pages kept[i] reached it. A page goes to the disk with every
// write made to it so far: one that reached it brings the earlier writes to that page along.
Disk Materialize(const std::map<std::string, File>& files, const std::vector<bool>& kept)
{
    Disk disk;
    size_t first = 0;
    for (const auto& [name, file] : files) {
        std::vector<bool> reached(file.pending.size());
        std::set<uint32_t> laterPages;
        for (size_t i = file.pending.size(); i-- > 0;) {
            const Unit& unit = file.pending[i];
            reached[i] = kept[first + i] || (!unit.truncate && laterPages.count(unit.offset / kPage));
            if (reached[i] && !unit.truncate)
                laterPages.insert(unit.offset / kPage);
        }
        std::vector<uint8_t> bytes = file.durable;
        for (size_t i = 0; i < file.pending.size(); ++i)
            if (reached[i])
                Apply(bytes, file.pending[i]);
        disk[name] = std::move(bytes);
        first += file.pending.size();
    }
    return disk;
}

// The choices tried at one cut point: every subset of few pending pages; of many, all
// kept, none kept, each one lost alone, and a seeded sample.
std::vector<std::vector<bool>> Choices(size_t pending, std::mt19937& random)
{
    std::vector<std::vector<bool>> choices;
    if (pending <= kAllSubsetsUpTo) {
        for (size_t mask = 0; mask < (size_t{1} << pending); ++mask) {
            std::vector<bool> kept(pending);
            for (size_t i = 0; i < pending; ++i)
                kept[i] = (mask >> i) & 1;
            choices.push_back(kept);
        }
        return choices;
    }
    choices.emplace_back(pending, true);
    choices.emplace_back(pending, false);
    for (size_t lost = 0; lost < pending; ++lost) {
        choices.emplace_back(pending, true);
        choices.back()[lost] = false;
    }
    std::bernoulli_distribution coin(0.5);
    for (size_t n = 0; n < kSampled; ++n) {
        choices.emplace_back(pending);
        for (size_t i = 0; i < pending; ++i)
            choices.back()[i] = coin(random);
    }
    return choices;
}

}  // namespace

Count EveryPowerCut(const Disk& before, const std::vector<StoreFileEvent>& events, unsigned seed,
                    const std::function<void(const Disk& disk, size_t point)>& check)
{
    std::map<std::string, File> files;
    for (const auto& [name, bytes] : before)
        files[name].durable = bytes;
    std::mt19937 random(seed);
    std::set<Disk> seen[2];
    Count count;
    for (size_t point = 0; point <= events.size(); ++point) {
        if (point > 0)
            Step(files, events[point - 1]);
        size_t pending = 0;
        for (const auto& entry : files)
            pending += entry.second.pending.size();
        bool finished = point == events.size();
        for (const std::vector<bool>& kept : Choices(pending, random)) {
            ++count.states;
            Disk disk = Materialize(files, kept);
            if (!seen[finished].insert(disk).second)
                continue;
            ++count.distinct;
            check(disk, point);
        }
    }
    return count;
}

Disk ReadDisk(const std::string& directory)
{
    Disk disk;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        disk[entry.path().filename().string()].assign(std::istreambuf_iterator<char>(in), {});
    }
    return disk;
}

void WriteDisk(const std::string& directory, const Disk& disk)
{
    for (const auto& entry : ReadDisk(directory))
        if (!disk.count(entry.first))
            std::filesystem::remove(std::filesystem::path(directory) / entry.first);
    for (const auto& [name, bytes] : disk)
        std::ofstream(std::filesystem::path(directory) / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace powercut
