// Files the native word processor writes and opens, checked without LibreOffice.

#include "platform/automation/automation.h"
#include "tests/platform/automation/word_test_util.h"
#include "tests/support/test_pictures.h"

#include <pugixml.hpp>
#include <zip.h>

#include <gtest/gtest.h>

#include "framework/bitmap_reader.h"
#include "framework/picture.h"

#include <QImage>

#include <cstdlib>
#include <map>
#include <set>
#include <sys/stat.h>

namespace {

std::map<std::string, std::string> ReadZip(const std::string& file)
{
    std::map<std::string, std::string> parts;
    int err = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!z) return parts;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st);
        std::string data(static_cast<std::size_t>(st.size), '\0');
        zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
        if (!data.empty()) zip_fread(f, data.data(), data.size());
        zip_fclose(f);
        parts[st.name] = data;
    }
    zip_discard(z);
    return parts;
}

// A package of three parts whose main part "doc.xml" holds Body.
void WriteMinimalDocx(const std::string& file, const std::string& body)
{
    const std::string ns = "http://schemas.openxmlformats.org/";
    const std::vector<std::pair<std::string, std::string>> parts = {
        {"[Content_Types].xml", "<Types xmlns=\"" + ns + "package/2006/content-types\">"
                                "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                                "<Override PartName=\"/doc.xml\" ContentType=\"application/vnd.openxmlformats-"
                                "officedocument.wordprocessingml.document.main+xml\"/></Types>"},
        {"_rels/.rels", "<Relationships xmlns=\"" + ns + "package/2006/relationships\"><Relationship Id=\"r1\" Type=\"" +
                            ns + "officeDocument/2006/relationships/officeDocument\" Target=\"doc.xml\"/></Relationships>"},
        {"doc.xml", "<document xmlns=\"" + ns + "wordprocessingml/2006/main\"><body>" + body + "</body></document>"}};
    int err = 0;
    zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    for (auto& [name, data] : parts) {
        const zip_int64_t at = zip_file_add(z, name.c_str(), zip_source_buffer(z, data.data(), data.size(), 0), 0);
        zip_set_file_compression(z, static_cast<zip_uint64_t>(at), ZIP_CM_DEFLATE, 1); // fast
    }
    ASSERT_EQ(zip_close(z), 0);
}

std::string AllText(const pugi::xml_node& body)
{
    std::string s;
    for (pugi::xpath_node n : body.select_nodes("//w:t")) s += n.node().child_value();
    return s;
}

TestExport Simple(std::vector<std::string> header, std::vector<std::vector<std::string>> rows)
{
    TestExport e;
    e.Header = std::move(header);
    for (auto& r : rows) {
        std::vector<TestCell> cells;
        for (auto& t : r) cells.push_back(TestCell{t});
        e.Rows.push_back(cells);
    }
    return e;
}

using WordFiles = WordTest;

TEST_F(WordFiles, DocxPackageHoldsTheDocument)
{
    std::string pic = Path("p.bmp");
    WriteTestPicture(pic, 40, 30, 3);
    TestExport e = Simple({"Title"}, {{"Name", "Picture"}, {"p.bmp", ""}, {"q.bmp", ""}});
    e.Rows[1][1] = TestCell{pic, true};
    e.Rows[2][1] = TestCell{pic, true}; // the same picture twice: stored once
    e.Password = "secret";
    RunTestExport(e, Path("out.docx"));

    auto parts = ReadZip(Path("out.docx"));
    ASSERT_TRUE(parts.count("word/document.xml"));
    ASSERT_TRUE(parts.count("[Content_Types].xml"));
    int media = 0;
    for (auto& [name, data] : parts)
        if (name.rfind("word/media/", 0) == 0) {
            ++media;
            EXPECT_EQ(data.substr(1, 3), "PNG");
        }
    EXPECT_EQ(media, 1);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(parts["word/document.xml"].c_str()));
    EXPECT_EQ(AllText(doc), "TitleNamePicturep.bmpq.bmp");
    EXPECT_EQ(doc.select_nodes("//w:tbl/w:tr").size(), 4u); // caption, two rows, the empty last row
    EXPECT_EQ(doc.select_nodes("//w:drawing").size(), 2u);
    // drawing ids are unique
    auto ids = doc.select_nodes("//wp:docPr");
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_STRNE(ids[0].node().attribute("id").value(), ids[1].node().attribute("id").value());
    pugi::xml_document settings;
    ASSERT_TRUE(settings.load_string(parts["word/settings.xml"].c_str()));
    pugi::xml_node prot = settings.document_element().child("w:documentProtection");
    EXPECT_STREQ(prot.attribute("w:edit").value(), "readOnly");
    EXPECT_FALSE(std::string(prot.attribute("w:hashValue").value()).empty());
    EXPECT_STREQ(settings.select_node("//w:compatSetting[@w:name='compatibilityMode']/@w:val").attribute().value(), "15");
    EXPECT_EQ(Files().size(), 2u); // the picture and the document: no temporary files left
}

TEST_F(WordFiles, EscapingKeepsEveryCharacterVisible)
{
    std::string tricky = std::string("<a&b>\"'") + std::string("\0nul", 4) + "\x01\x7f" + "tab\there" + "\r\nline" +
                         "\xff\x80" + "\xE2\x82\xAC" + "\xED\xA0\x80" + "{\\rtf}" + "\xEF\xBF\xBF";
    TestExport e = Simple({tricky}, {{tricky, "x"}});
    RunTestExport(e, Path("esc.docx"));
    auto parts = ReadZip(Path("esc.docx"));
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(parts["word/document.xml"].c_str())) << "not well-formed";
    std::string expected = "<a&b>\"'\xE2\x90\x80nul\xE2\x90\x81\xE2\x90\xA1tabhereline\xC3\xBF\xE2\x82\xAC\xE2\x82\xAC"
                           "\xC3\xAD\xC2\xA0\xE2\x82\xAC{\\rtf}\xEF\xBF\xBD";
    EXPECT_EQ(AllText(doc), expected + expected + "x");
    EXPECT_EQ(doc.select_nodes("(//w:p)[1]//w:tab").size(), 1u);
    EXPECT_EQ(doc.select_nodes("(//w:p)[1]//w:br").size(), 1u);

    RunTestExport(e, Path("esc.rtf"));
    std::string rtf = ReadWholeFile(Path("esc.rtf"));
    // \uN and the Windows-1252 byte as fallback, '?' (3f) where the code page has none
    EXPECT_NE(rtf.find("<a&b>\"'\\u9216\\'3fnul\\u9217\\'3f\\u9249\\'3ftab\\tab here\\line line\\u255\\'ff"
                       "\\u8364\\'80\\u8364\\'80\\u237\\'ed\\u160\\'a0\\u8364\\'80\\{\\\\rtf\\}\\u-3\\'3f"),
              std::string::npos);
    for (char c : rtf) EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80 && c != 0) << "raw byte in RTF";
}

TEST_F(WordFiles, FormatFollowsTheExtension)
{
    TestExport e = Simple({"x"}, {});
    RunTestExport(e, Path("a.doc"));
    RunTestExport(e, Path("b.RTF"));
    RunTestExport(e, Path("c.DOCX"));
    RunTestExport(e, Path("d.txt"));
    EXPECT_EQ(ReadWholeFile(Path("a.doc")).substr(0, 6), "{\\rtf1");
    EXPECT_EQ(ReadWholeFile(Path("b.RTF")).substr(0, 6), "{\\rtf1");
    EXPECT_EQ(ReadWholeFile(Path("c.DOCX")).substr(0, 2), "PK");
    EXPECT_EQ(ReadWholeFile(Path("d.txt")).substr(0, 6), "{\\rtf1");
}

TEST_F(WordFiles, FailedSaveKeepsTheExistingFile)
{
    // The merge source vanishes before the save: the target must stay as it was.
    std::string target = Path("keep.docx"), source = Path("source.docx");
    WriteWholeFile(target, "precious");
    RunTestExport(Simple({"old"}, {}), source);
    AutomationValue app = CreateAutomationObject("Word.Application");
    AutomationValue doc = app.Call("Documents").Call("Open", {source});
    std::filesystem::remove(source);
    AutomationValue name = target;
    EXPECT_THROW(doc.Call("SaveAs", {ByRef(name)}), Exception);
    EXPECT_EQ(ReadWholeFile(target), "precious");

    // An RTF source that changes while open: found while copying, the target stays too.
    std::string rtfSource = Path("source.rtf"), rtfTarget = Path("keep.rtf");
    RunTestExport(Simple({"old"}, {}), rtfSource);
    WriteWholeFile(rtfTarget, "precious");
    AutomationValue rdoc = app.Call("Documents").Call("Open", {rtfSource});
    WriteWholeFile(rtfSource, "{\\rtf1 short}");
    AutomationValue rname = rtfTarget;
    EXPECT_THROW(rdoc.Call("SaveAs", {ByRef(rname)}), Exception);
    EXPECT_EQ(ReadWholeFile(rtfTarget), "precious");

    // A folder that does not exist.
    AutomationValue bad = Path("no/such/folder/x.docx");
    EXPECT_THROW(app.Call("Documents").Call("Add").Call("SaveAs", {ByRef(bad)}), Exception);
    app.Call("Quit");
    std::vector<std::string> files = Files();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"keep.docx", "keep.rtf", "source.rtf"})); // no temporary files
}

TEST_F(WordFiles, OpeningWhatCannotBeReadFailsClearly)
{
    AutomationValue app = CreateAutomationObject("Word.Application");
    auto open = [&](const std::string& file) -> std::string {
        try {
            app.Call("Documents").Call("Open", {file});
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(opened)";
    };
    EXPECT_NE(open(Path("missing.docx")).find("missing.docx"), std::string::npos);
    WriteWholeFile(Path("binary.doc"), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0'));
    EXPECT_NE(open(Path("binary.doc")).find("binary"), std::string::npos);
    WriteWholeFile(Path("damaged.docx"), "PK\x03\x04 this is no zip at all");
    EXPECT_NE(open(Path("damaged.docx")).find("damaged"), std::string::npos);
    WriteWholeFile(Path("cut.rtf"), "{\\rtf1\\ansi {\\fonttbl{\\f0 Arial;}} text");
    EXPECT_NE(open(Path("cut.rtf")).find("closing brace"), std::string::npos);
    WriteWholeFile(Path("plain.doc"), "just text");
    EXPECT_NE(open(Path("plain.doc")).find("neither"), std::string::npos);
    // a zip that is no document
    {
        int err = 0;
        zip_t* z = zip_open(Path("other.docx").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
        static const char data[] = "hello";
        zip_file_add(z, "a.txt", zip_source_buffer(z, data, 5, 0), 0);
        zip_close(z);
    }
    EXPECT_NE(open(Path("other.docx")).find("not a word-processor document"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(Path("binary.doc")).size(), 608u); // untouched
    EXPECT_EQ(app.Call("Documents").Call("Count").ToInteger(), 0);
    app.Call("Quit");
}

TEST_F(WordFiles, DocxMergeKeepsEveryPart)
{
    std::string file = Path("merge.docx");
    std::string pic = Path("p.png");
    WriteTestPicture(pic, 20, 10, 5);
    TestExport first = Simple({"First export"}, {{"a", "b"}, {"c", ""}});
    first.Rows[1][1] = TestCell{pic, true};
    RunTestExport(first, file);
    auto before = ReadZip(file);

    TestExport second = Simple({"Second export"}, {{"d", "e"}, {"f", ""}});
    second.Rows[1][1] = TestCell{pic, true};
    second.OpenFile = file;
    second.Password = "pw";
    RunTestExport(second, file);
    auto after = ReadZip(file);
    for (auto& [name, data] : before)
        EXPECT_TRUE(after.count(name)) << name << " was lost";
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(after["word/document.xml"].c_str()));
    EXPECT_EQ(AllText(doc), "First exportabcSecond exportdef");
    EXPECT_EQ(doc.select_nodes("//w:tbl").size(), 2u);
    EXPECT_EQ(doc.select_nodes("//w:body/w:sectPr").size(), 1u);
    EXPECT_STREQ(doc.select_node("//w:body/*[last()]").node().name(), "w:sectPr");
    // the second picture got its own, new ids
    auto drawings = doc.select_nodes("//wp:docPr");
    ASSERT_EQ(drawings.size(), 2u);
    EXPECT_STRNE(drawings[0].node().attribute("id").value(), drawings[1].node().attribute("id").value());
    auto blips = doc.select_nodes("//a:blip");
    ASSERT_EQ(blips.size(), 2u);
    EXPECT_STRNE(blips[0].node().attribute("r:embed").value(), blips[1].node().attribute("r:embed").value());
    int media = 0;
    for (auto& [name, data] : after) media += name.rfind("word/media/", 0) == 0;
    EXPECT_EQ(media, 2);
    EXPECT_NE(after["word/settings.xml"].find("documentProtection"), std::string::npos);

    // A docx document cannot become RTF
    TestExport third = Simple({"x"}, {});
    third.OpenFile = file;
    EXPECT_THROW(RunTestExport(third, Path("merge.rtf")), Exception);
    ForgetRunningAutomationObjects();
}

// A letterhead made by another program (python-docx): a logo in the header, section
// properties without page size and margins, its own compatibility mode.
TEST_F(WordFiles, DocxTemplateWithAHeaderPicture)
{
    if (std::system("/usr/bin/python3 -c 'import docx' 2>/dev/null") != 0) GTEST_SKIP() << "python-docx is missing";
    std::string templ = Path("letterhead.docx");
    WriteTestPicture(Path("logo.png"), 30, 10, 1);
    WriteWholeFile(Path("make.py"),
                   "import docx\nfrom docx.oxml.ns import qn\n"
                   "d = docx.Document()\n"
                   "d.sections[0].header.paragraphs[0].add_run().add_picture('" + Path("logo.png") + "')\n"
                   "d.add_paragraph('Letter')\n"
                   "s = d.sections[0]._sectPr\n"
                   "for n in ('w:pgSz', 'w:pgMar'): s.remove(s.find(qn(n)))\n"
                   "d.settings.element.find(qn('w:zoom')).set(qn('w:percent'), '100')\n" // required; missing there
                   "d.save('" + templ + "')\n");
    ASSERT_EQ(std::system(("/usr/bin/python3 " + Path("make.py")).c_str()), 0);
    WriteTestPicture(Path("a.bmp"), 20, 10, 2);
    WriteTestPicture(Path("b.bmp"), 20, 10, 3);
    TestExport e = Simple({"Report"}, {{"Name", "Picture"}, {"a", ""}, {"b", ""}});
    e.Rows[1][1] = TestCell{Path("a.bmp"), true};
    e.Rows[2][1] = TestCell{Path("b.bmp"), true};
    e.OpenFile = templ;
    e.Orientation = 1;
    e.TopMargin = 30;
    RunTestExport(e, Path("out.docx")); // schema-checked there

    auto parts = ReadZip(Path("out.docx"));
    std::vector<std::string> ids;
    for (auto& [name, data] : parts) {
        pugi::xml_document part;
        if (name.rfind("word/", 0) != 0 || !part.load_string(data.c_str())) continue;
        for (pugi::xpath_node n : part.select_nodes("//wp:docPr")) ids.push_back(n.node().attribute("id").value());
    }
    ASSERT_EQ(ids.size(), 3u); // the logo and the two new pictures
    std::set<std::string> unique(ids.begin(), ids.end());
    EXPECT_EQ(unique.size(), ids.size()) << "drawing ids repeat across parts";

    pugi::xml_document doc, settings;
    ASSERT_TRUE(doc.load_string(parts["word/document.xml"].c_str()));
    pugi::xml_node sect = doc.select_node("//w:body/w:sectPr").node();
    EXPECT_STREQ(sect.first_child().name(), "w:headerReference");
    EXPECT_STREQ(sect.child("w:pgSz").attribute("w:orient").value(), "landscape");
    EXPECT_STREQ(sect.child("w:pgMar").attribute("w:top").value(), "600");
    ASSERT_TRUE(settings.load_string(parts["word/settings.xml"].c_str()));
    auto modes = settings.select_nodes("//w:compatSetting[@w:name='compatibilityMode']");
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_STREQ(modes.first().node().attribute("w:val").value(), "14"); // the template's own
}

// The least a package may hold: no settings part, no section properties.
TEST_F(WordFiles, MinimalDocxTemplateGetsSettingsAndSection)
{
    std::string templ = Path("minimal.docx");
    WriteMinimalDocx(templ, "<p><r><t>Hello</t></r></p>");
    TestExport e = Simple({"Added"}, {{"a", "b"}});
    e.OpenFile = templ;
    e.TopMargin = 30;
    RunTestExport(e, Path("out.docx")); // schema-checked there
    auto parts = ReadZip(Path("out.docx"));
    std::string settings;
    for (auto& [name, data] : parts)
        if (data.find("compatibilityMode") != std::string::npos) settings = name;
    EXPECT_NE(parts["[Content_Types].xml"].find("/" + settings + "\""), std::string::npos) << settings;
    EXPECT_NE(parts["doc.xml"].find("w:top=\"600\""), std::string::npos);
}

TEST_F(WordFiles, RtfMergeKeepsContentAndMergesTables)
{
    std::string file = Path("merge.doc");
    WriteWholeFile(file,
                   "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}{\\f3\\fswiss Arial;}}"
                   "{\\colortbl;\\red10\\green20\\blue30;}\n"
                   "{\\f3\\cf1 Existing text}\\par\n{\\pict\\pngblip\\bin4 }}}}}\\par Last line}\n");
    TestExport e = Simple({"Header"}, {{"a", "b"}});
    e.Rows[0][0].Font = "Arial";
    e.Rows[0][1].Font = "Courier New";
    e.Rows[0][1].ColorIndex = 6; // red
    e.OpenFile = file;
    RunTestExport(e, file);
    std::string rtf = ReadWholeFile(file);
    EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}{\\f3\\fswiss Arial;}"
                        "{\\f4\\fnil\\fcharset0 Courier New;}}{\\colortbl;\\red10\\green20\\blue30;\\red0\\green0\\blue0;",
                        0),
              0u)
        << rtf.substr(0, 300);
    EXPECT_NE(rtf.find("{\\f3\\cf1 Existing text}\\par\n{\\pict\\pngblip\\bin4 }}}}}\\par Last line\\par"), std::string::npos);
    EXPECT_NE(rtf.find("\\f3 {\\f3 a}"), std::string::npos);   // Arial reused
    EXPECT_NE(rtf.find("\\f4\\cf7 {"), std::string::npos);       // red is the 7th entry now
    EXPECT_EQ(rtf.substr(rtf.size() - 2), "}\n");
}

TEST_F(WordFiles, OverwriteKeepsTheModeAndRefusesWhatIsNoFile)
{
    TestExport e = Simple({"x"}, {});
    for (const char* name : {"mode.docx", "mode.rtf"}) {
        WriteWholeFile(Path(name), "old");
        ASSERT_EQ(::chmod(Path(name).c_str(), 0640), 0);
        RunTestExport(e, Path(name));
        struct stat st {};
        ASSERT_EQ(::stat(Path(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
        EXPECT_NE(ReadWholeFile(Path(name)), "old") << name;
    }
    // A named pipe named like a document is refused, not replaced.
    ASSERT_EQ(::mkfifo(Path("pipe.docx").c_str(), 0600), 0);
    AutomationValue app = CreateAutomationObject("Word.Application");
    AutomationValue name = Path("pipe.docx");
    try {
        app.Call("Documents").Call("Add").Call("SaveAs", {ByRef(name)});
        ADD_FAILURE() << "a pipe was replaced";
    } catch (const Exception& ex) {
        EXPECT_NE(ex.Message().find("not a regular file"), std::string::npos) << ex.Message();
    }
    app.Call("Quit");
    struct stat st {};
    ASSERT_EQ(::stat(Path("pipe.docx").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // The longest legal name still leaves room for the temporary name beside it.
    const std::string longest = std::string(250, 'n') + ".docx";
    RunTestExport(e, Path(longest));
    EXPECT_EQ(ReadWholeFile(Path(longest)).substr(0, 2), "PK");
    EXPECT_EQ(Files().size(), 4u); // mode.docx, mode.rtf, pipe.docx and the long one: nothing else
}

TEST_F(WordFiles, BitmapSuite)
{
    std::string suite = BmpSuite();
    if (!std::filesystem::exists(suite)) GTEST_SKIP() << "no bitmap suite at " << suite;
    AutomationValue app = CreateAutomationObject("Word.Application");
    AutomationValue doc = app.Call("Documents").Call("Add");
    auto add = [&](const std::filesystem::path& p) {
        AutomationValue name = p.string();
        doc.Call("InlineShapes").Call("AddPicture", {Named("FileName", ByRef(name)), Named("LinkToFile", false),
                                                     Named("SaveWithDocument", true)});
    };
    // Every good file is stored as a PNG of exactly the pixels the bitmap reader gives.
    std::multiset<std::string> expected, stored;
    auto key = [](const QImage& image) {
        QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
        return std::to_string(rgba.width()) + "x" + std::to_string(rgba.height()) + ":" +
               std::string(reinterpret_cast<const char*>(rgba.constBits()), static_cast<std::size_t>(rgba.sizeInBytes()));
    };
    for (const auto& f : std::filesystem::directory_iterator(suite + "/g")) {
        EXPECT_NO_THROW(add(f.path())) << f.path();
        expected.insert(key(BitmapToImage(ReadBitmap(ReadWholeFile(f.path().string())))));
    }
    AutomationValue name = Path("suite.docx");
    doc.Call("SaveAs", {ByRef(name)});
    for (const auto& [part, bytes] : ReadZip(Path("suite.docx")))
        if (part.rfind("word/media/", 0) == 0)
            stored.insert(key(QImage::fromData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), "png")));
    EXPECT_EQ(stored.size(), 27u);
    EXPECT_TRUE(stored == expected);

    // A damaged file is refused with the file named.
    const std::string shortFile = suite + "/b/shortfile.bmp";
    try {
        add(shortFile);
        ADD_FAILURE() << "a cut bitmap was embedded";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message().rfind("Bitmap image is not valid: " + shortFile + ": ", 0), 0u) << e.Message();
    }
    EXPECT_EQ(OoxmlSchemaFaults(Path("suite.docx")), "");
    app.Call("Quit");
}

} // namespace

// A small package whose main part inflates to more than a merge holds in memory, or to
// more elements than it parses, is refused before it is read whole, naming the part.
TEST_F(WordFiles, MergeIntoAPartBeyondTheLimitsIsRefused)
{
    const struct {
        std::size_t Paragraphs;
        const char* Limit;
    } cases[] = {{25u << 20, "(64 MB)"}, {5u << 20, "(192 MB once parsed"}};
    AutomationValue app = CreateAutomationObject("Word.Application");
    for (const auto& c : cases) {
        const std::string file = Path("inflating.docx");
        {
            std::string body;
            body.reserve(c.Paragraphs * 4);
            for (std::size_t i = 0; i < c.Paragraphs; ++i) body += "<p/>";
            WriteMinimalDocx(file, body);
        }
        try {
            app.Call("Documents").Call("Open", {file});
            ADD_FAILURE() << c.Limit << ": opened";
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find("The part 'doc.xml' of '" + file + "'"), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find(c.Limit), std::string::npos) << e.Message();
        }
    }
    app.Call("Quit");
}
