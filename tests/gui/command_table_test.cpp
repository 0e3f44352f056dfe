// The menus, accelerators, toolbar and enabling rules built from the command table.
#include <QAction>
#include <QMenu>
#include <QToolBar>

#include "core/commands/command_table.h"
#include "core/ops/operation.h"
#include "gui/docview/view_commands.h"
#include "gui_test.h"

namespace qel::test {
namespace {

using namespace qel::cmd;

struct Item {
    QString menu;
    QString text;
    int id;
};

// Every item of the menus in the menu bar, submenus as "parent>child", separators left out.
std::vector<Item> menuItems(const QList<QMenu*>& menus) {
    std::vector<Item> out;
    std::function<void(QMenu*, const QString&)> walk = [&](QMenu* menu, const QString& path) {
        for (QAction* a : menu->actions()) {
            if (a->isSeparator() || !a->isVisible()) continue;
            if (a->menu()) walk(a->menu(), path + ">" + a->menu()->title());
            else out.push_back({path, a->text(), a->data().toInt()});
        }
    };
    for (QMenu* m : menus) walk(m, m->title());
    return out;
}

// The items the table puts in the menu bar, in order: separators and keyboard-only commands left out.
std::vector<Item> tableItems(const std::vector<Command>& rows) {
    std::vector<Item> out;
    for (const Command& c : rows)
        if (c.id != kSeparator && c.menu) out.push_back({QString::fromUtf8(c.menu), QString::fromUtf8(c.text), c.id});
    return out;
}

void expectMenus(const std::vector<Item>& actual, const std::vector<Item>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].menu, expected[i].menu) << i;
        EXPECT_EQ(actual[i].text, expected[i].text) << i;
        EXPECT_EQ(actual[i].id, expected[i].id) << expected[i].text.toStdString();
    }
}

class CommandTableTest : public GuiTest {};

TEST_F(CommandTableTest, MenuWithDocumentWindowListsEveryCommandWithItsTextAndIdentifier) {
    frame->newDocument();
    ASSERT_TRUE(frame->showsDocumentMenu());
    expectMenus(menuItems(frame->currentMenus()), tableItems(documentMenu()));
}

TEST_F(CommandTableTest, MenuWithoutDocumentWindowIsTheShortStartMenu) {
    ASSERT_FALSE(frame->showsDocumentMenu());
    expectMenus(menuItems(frame->currentMenus()), tableItems(startMenu()));
}

TEST_F(CommandTableTest, ClosingTheLastWindowBringsBackTheStartMenu) {
    frame->newDocument();
    frame->runCommand(ID_FILE_CLOSE);
    processEvents();
    EXPECT_FALSE(frame->showsDocumentMenu());
    EXPECT_EQ(frame->windowTitle(), "Zenpa");
}

TEST_F(CommandTableTest, AcceleratorsIncludeEveryAlternativeAndTheToolbarFollowsTheTable) {
    frame->newDocument();
    for (const Command& c : documentMenu()) {
        if (c.id == kSeparator) continue;
        QStringList actual;
        for (const QKeySequence& k : frame->action(c.id)->shortcuts()) actual << k.toString(QKeySequence::PortableText);
        // Every key of the row, in order (the frame may add its own after them: F1 for the help).
        const QStringList keys = QString::fromUtf8(c.keys).split(';', Qt::SkipEmptyParts);
        EXPECT_EQ(actual.mid(0, keys.size()), keys) << c.id;
    }
    QList<int> ids;
    for (QAction* a : frame->toolBar()->actions()) ids << (a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(ids, QList<int>(toolbarButtons().begin(), toolbarButtons().end()));
}

// Every operation that names a menu command has its row and runs from it.
TEST_F(CommandTableTest, EveryMenuOperationHasItsRowAndHandler) {
    for (const Operation* op : operations()) {
        if (op->command == 0) continue;
        const Command* row = findCommand(op->command);
        ASSERT_NE(row, nullptr) << op->name;
        EXPECT_STREQ(row->operation, op->name);
        EXPECT_NE(qel::ui::viewCommands().find(op->command), nullptr) << op->name;
    }
}

TEST_F(CommandTableTest, RulesFollowPictureDepthThinnedAndUndoState) {
    struct Case {
        Rule rule;
        CommandContext context;
        bool enabled;
    };
    const CommandContext none;
    const CommandContext empty{true, false, 0, false, false, false};
    const CommandContext eight{true, true, 8, false, false, false};
    const CommandContext thin8{true, true, 8, true, false, false};
    const CommandContext four{true, true, 4, false, false, false};
    const CommandContext one{true, true, 1, false, false, false};
    const CommandContext full{true, true, 24, false, true, false};
    const std::vector<Case> cases = {
        {Rule::Always, none, true},          {Rule::DocumentWindow, none, false},
        {Rule::Never, full, false},          {Rule::Picture, empty, false},
        {Rule::Picture, one, true},          {Rule::NoPicture, empty, true},
        {Rule::NoPicture, none, false},      {Rule::NoPicture, eight, false},
        {Rule::Depth24, full, true},         {Rule::Depth24, eight, false},
        {Rule::DepthNot24, one, true},       {Rule::DepthNot24, full, false},
        {Rule::DepthAbove4, four, false},    {Rule::DepthAbove4, eight, true},
        {Rule::Depth4Or8, four, true},       {Rule::Depth4Or8, one, false},
        {Rule::Depth8, eight, true},         {Rule::Depth8, four, false},
        {Rule::Depth8Thinned, eight, false}, {Rule::Depth8Thinned, thin8, true},
        {Rule::Undo, full, true},            {Rule::Redo, full, false},
    };
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(isEnabled(cases[i].rule, cases[i].context), cases[i].enabled) << i;
}

}  // namespace
}  // namespace qel::test
