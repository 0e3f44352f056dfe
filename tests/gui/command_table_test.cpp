// The menus, accelerators, toolbar and enabling rules built from the command table.
#include <QAction>
#include <QMenu>
#include <QToolBar>

#include "core/commands/command_table.h"
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

// The items as the program's menu 129 names them.
const std::vector<Item> kDocumentMenu = {
    {"ﾌｧｲﾙ(&F)", "新規作成(&N)\tCtrl+N", 57600},
    {"ﾌｧｲﾙ(&F)", "開く(&O)...\tCtrl+O", 57601},
    {"ﾌｧｲﾙ(&F)", "閉じる(&C)", 57602},
    {"ﾌｧｲﾙ(&F)", "上書き保存(&S)\tCtrl+S", 57603},
    {"ﾌｧｲﾙ(&F)", "名前を付けて保存(&A)...", 57604},
    {"ﾌｧｲﾙ(&F)", "印刷(&P)...\tCtrl+P", 57607},
    {"ﾌｧｲﾙ(&F)", "印刷ﾌﾟﾚﾋﾞｭｰ(&V)", 57609},
    {"ﾌｧｲﾙ(&F)", "ﾌﾟﾘﾝﾀの設定(&R)...", 57606},
    {"ﾌｧｲﾙ(&F)", "最新のﾌｧｲﾙ", 57616},
    {"ﾌｧｲﾙ(&F)", "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", 57665},
    {"編集(&E)", "元に戻す(&U)\tCtrl+Z", 57643},
    {"編集(&E)", "やり直し \tCtrl+Y", 57644},
    {"編集(&E)", "切り取り(&T)\tCtrl+X", 57635},
    {"編集(&E)", "ｺﾋﾟｰ(&C)\tCtrl+C", 57634},
    {"編集(&E)", "貼り付け(&P)\tCtrl+V", 57637},
    {"表示(&V)", "拡大表示", 32776},
    {"表示(&V)", "縮小表示", 32777},
    {"表示(&V)", "画面情報", 32791},
    {"表示(&V)", "ﾂｰﾙ ﾊﾞｰ(&T)", 59392},
    {"表示(&V)", "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", 59393},
    {"効果", "関数で変換", 32787},
    {"効果>線", "細線化", 32771},
    {"効果>線", "直線化", 32775},
    {"効果>線", "整線", 32779},
    {"効果>線", "整線2", 32793},
    {"効果", "伸縮", 32786},
    {"効果", "混合", 32790},
    {"効果", "フラクタル", 32792},
    {"色", "色数", 32772},
    {"色", "パレット", 32782},
    {"色", "減色(256色)", 32781},
    {"色", "パレットに合せる", 32794},
    {"色>色数変更", "２４ｂｉｔ", 32778},
    {"色>色数変更", "256色", 32773},
    {"色>色数変更", "16色", 32774},
    {"色>色数変更", "灰色", 32783},
    {"色>色数変更", "白黒", 32784},
    {"ｳｨﾝﾄﾞｳ(&W)", "新しいｳｨﾝﾄﾞｳを開く(&N)", 57648},
    {"ｳｨﾝﾄﾞｳ(&W)", "重ねて表示(&C)", 57650},
    {"ｳｨﾝﾄﾞｳ(&W)", "並べて表示(&T)", 57651},
    {"ｳｨﾝﾄﾞｳ(&W)", "ｱｲｺﾝの整列(&A)", 57649},
    {"その他", "画面キャプチャ", 32785},
    {"その他", "関数電卓", 32788},
    {"ﾍﾙﾌﾟ(&H)", "ヘルプ", 57666},
    {"ﾍﾙﾌﾟ(&H)", "ﾊﾞｰｼﾞｮﾝ情報(Qel) (&A)...", 57664},
};

const std::vector<Item> kStartMenu = {
    {"ﾌｧｲﾙ(&F)", "新規作成(&N)\tCtrl+N", 57600},
    {"ﾌｧｲﾙ(&F)", "開く(&O)...\tCtrl+O", 57601},
    {"ﾌｧｲﾙ(&F)", "ﾌﾟﾘﾝﾀの設定(&R)...", 57606},
    {"ﾌｧｲﾙ(&F)", "最新のﾌｧｲﾙ", 57616},
    {"ﾌｧｲﾙ(&F)", "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", 57665},
    {"表示(&V)", "ﾂｰﾙ ﾊﾞｰ(&T)", 59392},
    {"表示(&V)", "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", 59393},
    {"ﾍﾙﾌﾟ(&H)", "ヘルプ", 57666},
    {"ﾍﾙﾌﾟ(&H)", "ﾊﾞｰｼﾞｮﾝ情報(Qel)(&A)...", 57664},
};

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
    expectMenus(menuItems(frame->currentMenus()), kDocumentMenu);
}

TEST_F(CommandTableTest, MenuWithoutDocumentWindowIsTheShortStartMenu) {
    ASSERT_FALSE(frame->showsDocumentMenu());
    expectMenus(menuItems(frame->currentMenus()), kStartMenu);
}

TEST_F(CommandTableTest, ClosingTheLastWindowBringsBackTheStartMenu) {
    frame->newDocument();
    frame->runCommand(ID_FILE_CLOSE);
    processEvents();
    EXPECT_FALSE(frame->showsDocumentMenu());
    EXPECT_EQ(frame->windowTitle(), "Zenpa");
}

TEST_F(CommandTableTest, AcceleratorsIncludeEveryAlternative) {
    const std::vector<std::pair<int, QStringList>> keys = {
        {ID_FILE_NEW, {"Ctrl+N"}},        {ID_FILE_OPEN, {"Ctrl+O"}},
        {ID_FILE_SAVE, {"Ctrl+S"}},       {ID_FILE_PRINT, {"Ctrl+P"}},
        {ID_EDIT_UNDO, {"Ctrl+Z", "Alt+Backspace"}}, {ID_EDIT_REDO, {"Ctrl+Y", "Ctrl+Space"}},
        {ID_EDIT_CUT, {"Ctrl+X", "Shift+Del"}},      {ID_EDIT_COPY, {"Ctrl+C", "Ctrl+Ins"}},
        {ID_EDIT_PASTE, {"Ctrl+V", "Shift+Ins"}},    {ID_NEXT_PANE, {"F6"}},
        {ID_PREV_PANE, {"Shift+F6"}},
    };
    for (const auto& [id, expected] : keys) {
        QStringList actual;
        for (const QKeySequence& k : frame->action(id)->shortcuts()) actual << k.toString(QKeySequence::PortableText);
        EXPECT_EQ(actual, expected) << id;
    }
}

TEST_F(CommandTableTest, ToolbarButtonsInOrder) {
    QList<int> ids;
    for (QAction* a : frame->toolBar()->actions()) ids << (a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(ids, QList<int>({57600, 57601, 57603, 0, 57635, 57634, 57637, 0, 57607, 57664}));
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
