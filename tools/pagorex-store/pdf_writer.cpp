#include "pdf_writer.h"

#include "jbig2_encoder.h"
#include "srgb_profile.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

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

// Readers refuse, or clamp, a page side of more units than this; archives take none
// shorter than the least.
constexpr double kMaxUnits = 14400, kLeastUnits = 3;

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

// The 1-bit picture as a JBIG2 stream, which a reader decodes to 0 for black: a grey ramp
// is black at 0 unless it runs the other way, a palette keeps its indices. false where its
// rows cannot be held or coded; it then goes Flate-compressed.
bool Jbig2Of(const DibExportPlan& plan, std::vector<uint8_t>& stream)
{
    try {
        std::vector<uint8_t> rows(plan.rowBytes * size_t(plan.height));
        for (int32_t y = 0; y < plan.height; ++y)
            DibExportRow(plan, y, &rows[plan.rowBytes * size_t(y)]);
        const Jbig2Page page{plan.width, plan.height, rows.data(),
                             plan.model == DibColorModel::Grey && plan.invertedGrey,
                             uint32_t(std::max(0, plan.xPelsPerMeter)), uint32_t(std::max(0, plan.yPelsPerMeter))};
        return EncodeJbig2(page, stream);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// A date as the document information gives it, and as XMP does.
std::string PdfDate(const UtcTime& t)
{
    char text[40];
    std::snprintf(text, sizeof text, "D:%04d%02d%02d%02d%02d%02d+00'00'", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

std::string XmpDate(const UtcTime& t)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d+00:00", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

// The metadata packet: the archival profile the file keeps to, its producer and dates.
std::string Xmp(const std::string& producer, const std::string& date)
{
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\"\n"
           "    xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">\n"
           "   <pdfaid:part>2</pdfaid:part>\n"
           "   <pdfaid:conformance>B</pdfaid:conformance>\n"
           "   <pdf:Producer>" + producer + "</pdf:Producer>\n"
           "   <xmp:CreateDate>" + date + "</xmp:CreateDate>\n"
           "   <xmp:ModifyDate>" + date + "</xmp:ModifyDate>\n"
           "   <xmp:MetadataDate>" + date + "</xmp:MetadataDate>\n"
           "  </rdf:Description>\n"
           " </rdf:RDF>\n"
           "</x:xmpmeta>\n"
           "<?xpacket end=\"w\"?>";
}
}  // namespace

// Passes a stream's bytes on, counting them.
class PdfWriter::Counted final : public ByteSink {
public:
    explicit Counted(PdfWriter& writer) : writer_(writer) {}
    bool Write(const uint8_t* bytes, size_t count) override
    {
        length += count;
        return writer_.Put(bytes, count);
    }
    uint64_t length = 0;

private:
    PdfWriter& writer_;
};

PdfWriter::PdfWriter(ByteSink& out, PdfOptions options) : out_(out), options_(std::move(options))
{
    offsets_.resize(kOutlineRoot);  // written at the end, when the pages are known
    // The second line's high bytes tell transfer programs that the file is binary.
    Text(std::string(options_.archival ? "%PDF-1.7" : "%PDF-1.5") + "\n%\xE2\xE3\xCF\xD3\n");
}

bool PdfWriter::Put(const uint8_t* bytes, size_t count)
{
    offset_ += count;
    if (options_.archival)
        for (size_t done = 0, part; done < count; done += part) {
            part = std::min<size_t>(count - done, 1u << 30);
            crc_ = uint32_t(crc32(crc_, bytes + done, uInt(part)));
            adler_ = uint32_t(adler32(adler_, bytes + done, uInt(part)));
        }
    ok_ = ok_ && out_.Write(bytes, count);
    return ok_;
}

bool PdfWriter::Text(const std::string& text)
{
    return Put(reinterpret_cast<const uint8_t*>(text.data()), text.size());
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
    std::vector<uint8_t> jbig2;
    const bool bitonal = plan.bitDepth == 1 && part == RowPart::All && Jbig2Of(plan, jbig2);
    std::string dict = "<< /Type /XObject /Subtype /Image /Width " + width + " /Height " +
                       std::to_string(plan.height) + " /ColorSpace " + ColourSpace(plan, part) +
                       " /BitsPerComponent " + depth + (bitonal ? " /Filter /JBIG2Decode" : " /Filter /FlateDecode");
    if (plan.invertedGrey && part == RowPart::All && !bitonal)
        dict += " /Decode [1 0]";
    if (mask != 0)
        dict += " /SMask " + Ref(mask);
    if (!BeginObject(id) || !Text(dict + " /Length " + Ref(id + 1) + " >>\nstream\n"))
        return false;
    Counted stream(*this);
    ok_ = bitonal ? stream.Write(jbig2.data(), jbig2.size()) : DeflateRows(plan, part, false, stream);
    return Text("\nendstream\nendobj\n") && BeginObject(id + 1) &&
           Text(std::to_string(stream.length) + "\nendobj\n");
}

bool PdfWriter::AddPage(const DibExportPlan& plan, const std::string& label, const std::string& title)
{
    const bool alpha = plan.model == DibColorModel::Rgba, masked = alpha && !options_.archival;
    uint32_t image = NewObject();
    NewObject();  // its length
    uint32_t mask = masked ? NewObject() : 0;
    if (masked)
        NewObject();
    if (!Image(plan, alpha ? RowPart::Colour : RowPart::All, image, mask) ||
        (masked && !Image(plan, RowPart::Alpha, mask, 0)))
        return false;
    double width = SideInPoints(plan.width, plan.xPelsPerMeter), height = SideInPoints(plan.height, plan.yPelsPerMeter);
    // A page of under a millimetre a side is drawn larger for archives.
    const double grow = options_.archival ? std::max(1.0, kLeastUnits / std::min(width, height)) : 1;
    width *= grow, height *= grow;
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

// The colour profile and the output intent that names it, the metadata and the document
// information; catalog gets the entries that lead to them.
bool PdfWriter::ArchivalParts(std::string& catalog)
{
    const UtcTime time = UtcOf(options_.seconds);
    const std::vector<uint8_t> profile = SrgbProfile(time);
    const std::string xmp = Xmp(options_.producer, XmpDate(time)), date = PdfString(PdfDate(time));
    const uint32_t icc = NewObject(), intent = NewObject(), metadata = NewObject();
    info_ = NewObject();
    catalog = " /Metadata " + Ref(metadata) + " /OutputIntents [" + Ref(intent) + "]";
    return BeginObject(icc) && Text("<< /N 3 /Length " + std::to_string(profile.size()) + " >>\nstream\n") &&
           Put(profile.data(), profile.size()) && Text("\nendstream\nendobj\n") && BeginObject(intent) &&
           Text("<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (sRGB) /Info (sRGB) "
                "/DestOutputProfile " + Ref(icc) + " >>\nendobj\n") &&
           BeginObject(metadata) &&
           Text("<< /Type /Metadata /Subtype /XML /Length " + std::to_string(xmp.size()) + " >>\nstream\n" + xmp +
                "\nendstream\nendobj\n") &&
           BeginObject(info_) &&
           Text("<< /Producer " + PdfString(options_.producer) + " /CreationDate " + date + " /ModDate " + date +
                " >>\nendobj\n");
}

// Sixteen bytes drawn from every byte written so far, so that the same export gives the
// same file: their CRC-32, their Adler-32 and their count.
std::string PdfWriter::Identifier() const
{
    char text[40];
    std::snprintf(text, sizeof text, "<%08X%08X%016llX>", crc_, adler_, static_cast<unsigned long long>(offset_));
    return std::string(" /ID [") + text + " " + text + "]";
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
        !Outlines(kOutlineRoot))
        return false;
    // A page in larger units needs a later version than the plain file's header names.
    std::string catalog = userUnits_ && !options_.archival ? " /Version /1.6" : "";
    if ((options_.archival && !ArchivalParts(catalog)) || !BeginObject(kCatalog) ||
        !Text("<< /Type /Catalog" + catalog + " /Pages " + Ref(kPageTree) + " /Outlines " + Ref(kOutlineRoot) +
              " /PageLabels << /Nums [" + labels + "] >> >>\nendobj\n"))
        return false;
    uint64_t table = offset_;
    std::string xref = "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n";
    for (uint64_t at : offsets_) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(at));
        xref += entry;
    }
    if (!Text(xref))
        return false;
    const std::string archival = options_.archival ? " /Info " + Ref(info_) + Identifier() : "";
    return Text("trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root " + Ref(kCatalog) + archival +
                " >>\nstartxref\n" + std::to_string(table) + "\n%%EOF\n");
}
