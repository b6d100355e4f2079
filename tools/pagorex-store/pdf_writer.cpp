#include "pdf_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr uint32_t kCatalog = 1, kPageTree = 2, kOutlineRoot = 3;
constexpr double kDefaultDpi = 300;

std::string Format(const char* format, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Ref(uint32_t id)
{
    return std::to_string(id) + " 0 R";
}

// A PDF string: the characters that end or escape one are escaped.
std::string PdfString(const std::string& text)
{
    std::string out = "(";
    for (char c : text) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + ")";
}

// Readers refuse, or clamp, a page side of more units than this.
constexpr double kMaxUnits = 14400;

// The side in points of pixels at pels per metre (300 dpi without).
double SideInPoints(int32_t pixels, int32_t pelsPerMeter)
{
    double dpi = pelsPerMeter > 0 ? pelsPerMeter * 0.0254 : kDefaultDpi;
    return pixels * 72.0 / dpi;
}

std::string ColourSpace(const DibExportPlan& plan, RowPart part)
{
    if (part == RowPart::Alpha || plan.model == DibColorModel::Grey)
        return "/DeviceGray";
    if (plan.model != DibColorModel::Palette)
        return "/DeviceRGB";
    static const char kHex[] = "0123456789ABCDEF";
    std::string table = "[/Indexed /DeviceRGB " + std::to_string(plan.paletteEntries - 1) + " <";
    for (uint32_t i = 0; i < 3 * plan.paletteEntries; ++i)
        table += {kHex[plan.Palette()[i] >> 4], kHex[plan.Palette()[i] & 15]};
    return table + ">]";
}
}  // namespace

// Passes a stream's bytes on, counting them.
class PdfWriter::Counted final : public ByteSink {
public:
    explicit Counted(PdfWriter& writer) : writer_(writer) {}
    bool Write(const uint8_t* bytes, size_t count) override
    {
        writer_.offset_ += count;
        length += count;
        return writer_.out_.Write(bytes, count);
    }
    uint64_t length = 0;

private:
    PdfWriter& writer_;
};

PdfWriter::PdfWriter(ByteSink& out) : out_(out)
{
    offsets_.resize(kOutlineRoot);  // written at the end, when the pages are known
    // The second line's high bytes tell transfer programs that the file is binary.
    Text("%PDF-1.5\n%\xE2\xE3\xCF\xD3\n");
}

bool PdfWriter::Text(const std::string& text)
{
    offset_ += text.size();
    ok_ = ok_ && out_.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return ok_;
}

uint32_t PdfWriter::NewObject()
{
    offsets_.push_back(0);
    return uint32_t(offsets_.size());
}

bool PdfWriter::BeginObject(uint32_t id)
{
    offsets_[id - 1] = offset_;
    return Text(std::to_string(id) + " 0 obj\n");
}

// The image object id (its pixels, or only their colour or alpha), its length in the
// object after it, and mask its soft mask's object (0: none).
bool PdfWriter::Image(const DibExportPlan& plan, RowPart part, uint32_t id, uint32_t mask)
{
    const std::string depth = std::to_string(plan.bitDepth), width = std::to_string(plan.width);
    std::string dict = "<< /Type /XObject /Subtype /Image /Width " + width + " /Height " +
                       std::to_string(plan.height) + " /ColorSpace " + ColourSpace(plan, part) +
                       " /BitsPerComponent " + depth + " /Filter /FlateDecode";
    if (plan.invertedGrey && part == RowPart::All)
        dict += " /Decode [1 0]";
    if (mask != 0)
        dict += " /SMask " + Ref(mask);
    if (!BeginObject(id) || !Text(dict + " /Length " + Ref(id + 1) + " >>\nstream\n"))
        return false;
    Counted stream(*this);
    ok_ = DeflateRows(plan, part, false, stream);
    return Text("\nendstream\nendobj\n") && BeginObject(id + 1) &&
           Text(std::to_string(stream.length) + "\nendobj\n");
}

bool PdfWriter::AddPage(const DibExportPlan& plan, const std::string& label, const std::string& title)
{
    const bool alpha = plan.model == DibColorModel::Rgba;
    uint32_t image = NewObject();
    NewObject();  // its length
    uint32_t mask = alpha ? NewObject() : 0;
    if (alpha)
        NewObject();
    if (!Image(plan, alpha ? RowPart::Colour : RowPart::All, image, mask) ||
        (alpha && !Image(plan, RowPart::Alpha, mask, 0)))
        return false;
    double width = SideInPoints(plan.width, plan.xPelsPerMeter), height = SideInPoints(plan.height, plan.yPelsPerMeter);
    // A page larger than the readers' limit is given in units of several points, so that
    // it still shows at its true size.
    const double unit = std::ceil(std::max(width, height) / kMaxUnits);
    std::string userUnit;
    if (unit > 1) {
        width /= unit, height /= unit;
        userUnit = " /UserUnit " + std::to_string(int(unit));
        userUnits_ = true;
    }
    const std::string w = Format("%.3f", width), h = Format("%.3f", height);
    const std::string draw = "q\n" + w + " 0 0 " + h + " 0 0 cm\n/Im0 Do\nQ\n";
    uint32_t contents = NewObject(), page = NewObject();
    pages_.push_back({page, label, title});
    return BeginObject(contents) &&
           Text("<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw + "endstream\nendobj\n") &&
           BeginObject(page) &&
           Text("<< /Type /Page /Parent " + Ref(kPageTree) + " /MediaBox [0 0 " + w + " " + h + "]" + userUnit +
                " /Resources << /XObject << /Im0 " + Ref(image) + " >> >> /Contents " + Ref(contents) +
                " >>\nendobj\n");
}

// One bookmark per page, in page order, under the outline root.
bool PdfWriter::Outlines(uint32_t rootId)
{
    uint32_t first = uint32_t(offsets_.size()) + 1, count = uint32_t(pages_.size());
    for (uint32_t i = 0; i < count; ++i)
        NewObject();
    for (uint32_t i = 0; i < count; ++i) {
        std::string item = "<< /Title " + PdfString(pages_[i].title) + " /Parent " + Ref(rootId) +
                           " /Dest [" + Ref(pages_[i].id) + " /Fit]";
        if (i > 0)
            item += " /Prev " + Ref(first + i - 1);
        if (i + 1 < count)
            item += " /Next " + Ref(first + i + 1);
        if (!BeginObject(first + i) || !Text(item + " >>\nendobj\n"))
            return false;
    }
    return BeginObject(rootId) &&
           Text("<< /Type /Outlines /First " + Ref(first) + " /Last " + Ref(first + count - 1) + " /Count " +
                std::to_string(count) + " >>\nendobj\n");
}

bool PdfWriter::Finish()
{
    std::string kids, labels;
    for (size_t i = 0; i < pages_.size(); ++i) {
        kids += (i ? " " : "") + Ref(pages_[i].id);
        labels += (i ? " " : "") + std::to_string(i) + " << /P " + PdfString(pages_[i].label) + " >>";
    }
    if (!BeginObject(kPageTree) ||
        !Text("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages_.size()) + " >>\nendobj\n") ||
        !Outlines(kOutlineRoot) || !BeginObject(kCatalog) ||
        !Text("<< /Type /Catalog" + std::string(userUnits_ ? " /Version /1.6" : "") + " /Pages " + Ref(kPageTree) +
              " /Outlines " + Ref(kOutlineRoot) +
              " /PageLabels << /Nums [" + labels + "] >> >>\nendobj\n"))
        return false;
    uint64_t table = offset_;
    std::string xref = "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n";
    for (uint64_t at : offsets_) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(at));
        xref += entry;
    }
    return Text(xref) && Text("trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root " +
                              Ref(kCatalog) + " >>\nstartxref\n" + std::to_string(table) + "\n%%EOF\n");
}
