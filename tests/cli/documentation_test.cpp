// Every operation is documented where a user looks for it: qel-batch --help, the manual page and
// README's option table, each naming its value and saying what it does in the descriptor's words.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "support/batch_run.h"

namespace qel {
namespace {

std::string sourceFile(const std::string& path) {
    std::ifstream f(std::string(QEL_TEST_DATA) + "/../../" + path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// "--black-white=T" and its help as the man page writes them: ".BR \-\-black\-white =\fIT\fR" and
// the help on the next line.
std::string manEntry(const Operation& op) {
    std::string name;
    for (char c : batch::optionName(op)) name += c == '-' ? std::string("\\-") : std::string(1, c);
    if (op.arg.kind == OperationArg::Kind::None) return ".TP\n.B " + name + "\n" + op.help + "\n";
    const std::string value = std::string("\\fI") + op.arg.valueName + "\\fR";
    return ".TP\n.BR " + name + (op.arg.optional ? " [=" + value + "]" : " =" + value) + "\n" + op.help + "\n";
}

TEST(Documentation, HelpManualPageAndReadmeNameEveryOperationWithItsValue) {
    const std::string help = test::runCli({"--help"}).out;
    std::ifstream page(QEL_GENERATED_DIR "/qel-batch.1");
    const std::string man{std::istreambuf_iterator<char>(page), std::istreambuf_iterator<char>()};
    std::string table;  // README's option table
    std::istringstream readme(sourceFile("README.md"));
    for (std::string line; std::getline(readme, line);)
        if (line.rfind("| `--", 0) == 0) table += line + "\n";
    ASSERT_FALSE(man.empty());
    ASSERT_FALSE(table.empty());
    for (const Operation* op : operations()) {
        const std::string option = optionWithValue(*op);
        EXPECT_NE(help.find("\n  " + option + " "), std::string::npos) << option;
        EXPECT_NE(help.find(std::string(" ") + op->help + "\n"), std::string::npos) << option;
        EXPECT_NE(man.find(manEntry(*op)), std::string::npos) << option;
        EXPECT_NE(table.find("| `" + option + "` | " + op->help + " |\n"), std::string::npos) << option;
    }
}

TEST(Documentation, HelpManualPageReadmeAndHelpPageNameEverySaveOption) {
    const std::string help = test::runCli({"--help"}).out;
    std::ifstream page(QEL_GENERATED_DIR "/qel-batch.1");
    const std::string man{std::istreambuf_iterator<char>(page), std::istreambuf_iterator<char>()};
    const std::string readme = sourceFile("README.md"), helpPage = sourceFile("docs/help/batch.html");
    for (const std::string option : {"--quality=Q", "--png-effort=E"}) {
        const std::string name = option.substr(0, option.find('=')), value = option.substr(option.find('=') + 1);
        std::string manName;
        for (char c : name) manName += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(help.find("\n  " + option + " "), std::string::npos) << option;
        EXPECT_NE(man.find(".BI " + manName + "= " + value + "\n"), std::string::npos) << option;
        EXPECT_NE(readme.find("`" + option + "`"), std::string::npos) << option;
        EXPECT_NE(helpPage.find("<code>" + option + "</code>"), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace qel
