// LDIF read back by python-ldap's parser: every awkward value, a long one folded at 76
// columns, names that need escaping in the entry's dn, a null left out and an empty
// text kept.

#include "cellfile/ldif_exporter.h"
#include "framework/data_set.h"
#include "framework/files.h"
#include "framework/ui_services.h"
#include "tests/common/awkward_texts.h"
#include "tests/common/qt_application.h"
#include "tests/common/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

TEST(LdifExporterTest, EveryValueReadBackByPythonLdap)
{
    EnsureQtApplication();
    TRecordingUIServices ui;
    ui.ForceHasGui = 0;
    TUIServicesScope scope{&ui};
    TempDir dir{"tabrix_ldif"};
    TMemoryDataSet ds;
    ds.AddField("uid", ftString, 40);
    ds.AddField("Text", ftString, 400);
    ds.AddField("2nd value", ftInteger);
    std::vector<std::string> texts = Awkward;
    texts.push_back(std::string(100, 'x') + "ü" + std::string(200, 'y'));
    const auto uid = [](std::size_t I) { return " #u," + std::to_string(I) + "+é "; };
    for (std::size_t i = 0; i < texts.size(); ++i)
        ds.AppendRecord({Variant(uid(i)), Variant(texts[i]), Variant(static_cast<int>(i))});
    ds.AppendRecord({Variant(uid(texts.size())), Variant::Null(), Variant::Null()});
    ds.First();

    TKVExportToLDIF ldif;
    ExportQuietlyFrom(ldif, ds);
    ldif.TableName = "ou=people,dc=example,dc=org";
    ldif.Header().Add("exported\nby a test");
    ldif.SetFileName(dir / "out.ldif");
    ldif.Execute();
    ASSERT_EQ(ldif.Statistic().Result, erCompleted);
    EXPECT_EQ(ldif.Statistic().Warnings,
              std::vector<std::string>{
                  "1 captions are no valid LDAP attribute names and were changed (the first: \"2nd value\" is x-2nd-value)"});

    std::ofstream(dir / "read.py") << "import sys, ldif\n"
                                      "p = ldif.LDIFRecordList(open(sys.argv[1], 'rb')); p.parse()\n"
                                      "for dn, e in p.all_records:\n"
                                      "    t = e.get('Text')\n"
                                      "    n = e.get('x-2nd-value')\n"
                                      "    print(dn.encode().hex(), '-' if t is None else t[0].hex(),\n"
                                      "          '-' if n is None else n[0].decode(), e['uid'][0].hex())\n";
    std::string expected;
    for (std::size_t i = 0; i <= texts.size(); ++i) {
        std::string dn = "uid=\\ #u\\," + std::to_string(i) + "\\+é\\ ,ou=people,dc=example,dc=org";
        expected += Hex(dn) + " " + (i < texts.size() ? Hex(texts[i]) + " " + std::to_string(i) : "- -") + " "
            + Hex(uid(i)) + "\n";
    }
    EXPECT_EQ(Shell("/usr/bin/python3 '" + dir / "read.py" + "' '" + dir / "out.ldif" + "'"), expected);

    const std::string file = ReadFileToString(dir / "out.ldif");
    EXPECT_EQ(file.rfind("version: 1\n# exported\n# by a test\n\ndn:: ", 0), 0u) << file;
    std::istringstream lines(file);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 76u) << line;
}

} // namespace
