#include "core/commands/command_table.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/ops/operation.h"

namespace qel::cmd {

namespace {

// A row that runs an operation takes its id, rule and thinned effect from the operation.
std::vector<Command> withOperations(std::vector<Command> rows) {
    for (Command& row : rows) {
        if (!row.operation) continue;
        const Operation* op = findOperation(row.operation);
        if (!op) throw std::logic_error(std::string("no menu operation ") + row.operation);
        row.id = commandOf(*op);
        row.rule = op->rule;
        row.thinned = op->thinned;
    }
    // Operations that declare a menu item of their own: at the end of their menu, after a separator.
    for (const Operation* op : operations()) {
        if (!op->menu || !op->menuText) continue;
        const auto last = std::find_if(rows.rbegin(), rows.rend(), [&](const Command& c) {
            return c.menu && std::string_view(c.menu) == op->menu;
        });
        auto at = last.base();  // after the menu's last row (the end when the menu is new)
        const bool ownBefore = last != rows.rend() && last->operation && findOperation(last->operation)->menu;
        if (!ownBefore) at = std::next(rows.insert(at, Command{.menu = op->menu}));
        rows.insert(at, Command{.id = commandOf(*op), .menu = op->menu, .text = op->menuText, .rule = op->rule,
                                .thinned = op->thinned, .operation = op->name});
    }
    return rows;
}

constexpr const char* kFile = "ﾌｧｲﾙ(&F)";
constexpr const char* kEdit = "編集(&E)";
constexpr const char* kView = "表示(&V)";
constexpr const char* kEffect = "効果";
constexpr const char* kLine = "効果>線";
constexpr const char* kColour = "色";
constexpr const char* kDepth = "色>色数変更";
constexpr const char* kWindow = "ｳｨﾝﾄﾞｳ(&W)";
constexpr const char* kOther = "その他";
constexpr const char* kHelp = "ﾍﾙﾌﾟ(&H)";
}  // namespace

const std::vector<Command>& documentMenu() {
    static const std::vector<Command> table = withOperations({
        {.id = ID_FILE_NEW, .menu = kFile, .text = "新規作成(&N)\tCtrl+N", .keys = "Ctrl+N", .prompt = "新規にﾌｧｲﾙを作成します"},
        {.id = ID_FILE_OPEN, .menu = kFile, .text = "開く(&O)...\tCtrl+O", .keys = "Ctrl+O", .prompt = "既存のﾌｧｲﾙを開きます"},
        {.id = ID_FILE_CLOSE, .menu = kFile, .text = "閉じる(&C)", .rule = Rule::DocumentWindow, .prompt = "作業中のﾌｧｲﾙを閉じます"},
        {.id = ID_FILE_SAVE, .menu = kFile, .text = "上書き保存(&S)\tCtrl+S", .keys = "Ctrl+S", .prompt = "作業中のﾌｧｲﾙを保存します"},
        {.id = ID_FILE_SAVE_AS, .menu = kFile, .text = "名前を付けて保存(&A)...", .prompt = "作業中のﾌｧｲﾙを新しい名前で保存します"},
        {.menu = kFile},
        {.id = ID_FILE_PRINT, .menu = kFile, .text = "印刷(&P)...\tCtrl+P", .rule = Rule::DocumentWindow, .keys = "Ctrl+P", .prompt = "作業中のﾌｧｲﾙを印刷します"},
        {.id = ID_FILE_PRINT_PREVIEW, .menu = kFile, .text = "印刷ﾌﾟﾚﾋﾞｭｰ(&V)", .rule = Rule::DocumentWindow, .prompt = "ﾌﾙ ﾍﾟｰｼﾞ表示します"},
        {.id = ID_FILE_PRINT_SETUP, .menu = kFile, .text = "ﾌﾟﾘﾝﾀの設定(&R)...", .prompt = "ﾌﾟﾘﾝﾀおよびﾌﾟﾘﾝﾀ接続の設定を変更します"},
        {.menu = kFile},
        {.id = ID_FILE_MRU_FILE1, .menu = kFile, .text = "最新のﾌｧｲﾙ", .prompt = "指定のﾌｧｲﾙを開きます"},
        {.menu = kFile},
        {.id = ID_APP_EXIT, .menu = kFile, .text = "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", .prompt = "ｱﾌﾟﾘｹｰｼｮﾝを終了します"},
        {.id = ID_EDIT_UNDO, .menu = kEdit, .text = "元に戻す(&U)\tCtrl+Z", .rule = Rule::Undo, .keys = "Ctrl+Z;Alt+Backspace", .prompt = "直前に行った動作を元に戻します"},
        {.id = ID_EDIT_REDO, .menu = kEdit, .text = "やり直し \tCtrl+Y", .rule = Rule::Redo, .keys = "Ctrl+Y;Ctrl+Space", .prompt = "直前に行った動作を繰り返します"},
        {.menu = kEdit},
        {.id = ID_EDIT_CUT, .menu = kEdit, .text = "切り取り(&T)\tCtrl+X", .rule = Rule::Never, .keys = "Ctrl+X;Shift+Del", .prompt = "選択範囲を切り取ってｸﾘｯﾌﾟﾎﾞｰﾄﾞに移動します"},
        {.id = ID_EDIT_COPY, .menu = kEdit, .text = "ｺﾋﾟｰ(&C)\tCtrl+C", .rule = Rule::Picture, .keys = "Ctrl+C;Ctrl+Ins", .prompt = "選択範囲をｺﾋﾟｰしてｸﾘｯﾌﾟﾎﾞｰﾄﾞに保存します"},
        {.id = ID_EDIT_PASTE, .menu = kEdit, .text = "貼り付け(&P)\tCtrl+V", .rule = Rule::NoPicture, .keys = "Ctrl+V;Shift+Ins", .prompt = "ｸﾘｯﾌﾟﾎﾞｰﾄﾞの内容を貼り付けます"},
        {.id = ID_ZOOM_IN, .menu = kView, .text = "拡大表示", .rule = Rule::Picture},
        {.id = ID_ZOOM_OUT, .menu = kView, .text = "縮小表示", .rule = Rule::Picture},
        {.id = ID_IMAGE_INFO, .menu = kView, .text = "画面情報"},
        {.menu = kView},
        {.id = ID_VIEW_TOOLBAR, .menu = kView, .text = "ﾂｰﾙ ﾊﾞｰ(&T)", .prompt = "ﾂｰﾙ ﾊﾞｰの表示/非表示を切り替えます"},
        {.id = ID_VIEW_STATUS_BAR, .menu = kView, .text = "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", .prompt = "ｽﾃｰﾀｽ ﾊﾞｰの表示/非表示を切り替えます"},
        {.menu = kEffect, .text = "関数で変換", .operation = "transform"},
        {.menu = kLine, .text = "細線化", .operation = "thin"},
        {.menu = kLine, .text = "直線化", .operation = "straighten"},
        {.menu = kLine, .text = "整線", .announce = true, .operation = "tidy"},
        {.menu = kLine, .text = "整線2", .operation = "tidy2"},
        {.menu = kEffect, .text = "伸縮", .operation = "scale"},
        {.menu = kEffect, .text = "混合", .operation = "mix"},
        {.menu = kEffect, .text = "フラクタル", .operation = "fractal"},
        {.menu = kColour, .text = "色数", .operation = "count-colours"},
        {.id = ID_PALETTE, .menu = kColour, .text = "パレット", .rule = Rule::Depth4Or8},
        {.menu = kColour, .text = "減色(256色)", .operation = "reduce-256"},
        {.menu = kColour, .text = "パレットに合せる", .operation = "fit-palette"},
        {.menu = kDepth, .text = "２４ｂｉｔ", .announce = true, .operation = "to-24bit"},
        {.menu = kDepth, .text = "256色", .announce = true, .operation = "to-256"},
        {.menu = kDepth, .text = "16色", .announce = true, .operation = "to-16"},
        {.menu = kDepth, .text = "灰色", .operation = "grey"},
        {.menu = kDepth, .text = "白黒", .operation = "black-white"},
        {.menu = kColour},
        {.menu = kColour, .text = "高画質減色", .operation = "quantize"},
        {.id = ID_WINDOW_NEW, .menu = kWindow, .text = "新しいｳｨﾝﾄﾞｳを開く(&N)", .rule = Rule::DocumentWindow, .prompt = "作業中のｳｨﾝﾄﾞｳを複写して表示します"},
        {.id = ID_WINDOW_CASCADE, .menu = kWindow, .text = "重ねて表示(&C)", .rule = Rule::DocumentWindow, .prompt = "ｳｨﾝﾄﾞｳを重ねて表示します"},
        {.id = ID_WINDOW_TILE_HORZ, .menu = kWindow, .text = "並べて表示(&T)", .rule = Rule::DocumentWindow, .prompt = "ｳｨﾝﾄﾞｳを並べて表示します"},
        {.id = ID_WINDOW_ARRANGE, .menu = kWindow, .text = "ｱｲｺﾝの整列(&A)", .rule = Rule::DocumentWindow, .prompt = "ｱｲｺﾝを整列します"},
        {.id = ID_SCREEN_CAPTURE, .menu = kOther, .text = "画面キャプチャ", .rule = Rule::NoPicture},
        {.id = ID_CALCULATOR, .menu = kOther, .text = "関数電卓"},
        {.id = ID_HELP_INDEX, .menu = kHelp, .text = "ヘルプ", .prompt = "ﾍﾙﾌﾟを表示します"},
        {.menu = kHelp},
        {.id = ID_APP_ABOUT, .menu = kHelp, .text = "ﾊﾞｰｼﾞｮﾝ情報(Qel) (&A)...", .prompt = "ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝそして著作権を表示します"},
        {.id = ID_NEXT_PANE, .menu = nullptr, .text = "次のﾍﾟｲﾝ", .rule = Rule::DocumentWindow, .keys = "F6", .prompt = "次のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに切り替えます"},
        {.id = ID_PREV_PANE, .menu = nullptr, .text = "前のﾍﾟｲﾝ", .rule = Rule::DocumentWindow, .keys = "Shift+F6", .prompt = "前のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに切り替えます"},
    });
    return table;
}

const std::vector<Command>& startMenu() {
    static const std::vector<Command> table = {
        {.id = ID_FILE_NEW, .menu = kFile, .text = "新規作成(&N)\tCtrl+N", .keys = "Ctrl+N", .prompt = "新規にﾌｧｲﾙを作成します"},
        {.id = ID_FILE_OPEN, .menu = kFile, .text = "開く(&O)...\tCtrl+O", .keys = "Ctrl+O", .prompt = "既存のﾌｧｲﾙを開きます"},
        {.menu = kFile},
        {.id = ID_FILE_PRINT_SETUP, .menu = kFile, .text = "ﾌﾟﾘﾝﾀの設定(&R)...", .prompt = "ﾌﾟﾘﾝﾀおよびﾌﾟﾘﾝﾀ接続の設定を変更します"},
        {.menu = kFile},
        {.id = ID_FILE_MRU_FILE1, .menu = kFile, .text = "最新のﾌｧｲﾙ", .prompt = "指定のﾌｧｲﾙを開きます"},
        {.menu = kFile},
        {.id = ID_APP_EXIT, .menu = kFile, .text = "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", .prompt = "ｱﾌﾟﾘｹｰｼｮﾝを終了します"},
        {.id = ID_VIEW_TOOLBAR, .menu = kView, .text = "ﾂｰﾙ ﾊﾞｰ(&T)", .prompt = "ﾂｰﾙ ﾊﾞｰの表示/非表示を切り替えます"},
        {.id = ID_VIEW_STATUS_BAR, .menu = kView, .text = "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", .prompt = "ｽﾃｰﾀｽ ﾊﾞｰの表示/非表示を切り替えます"},
        {.id = ID_HELP_INDEX, .menu = kHelp, .text = "ヘルプ", .prompt = "ﾍﾙﾌﾟを表示します"},
        {.menu = kHelp},
        {.id = ID_APP_ABOUT, .menu = kHelp, .text = "ﾊﾞｰｼﾞｮﾝ情報(Qel)(&A)...", .prompt = "ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝそして著作権を表示します"},
    };
    return table;
}

const Command* findCommand(int id) {
    if (id == kSeparator) return nullptr;
    for (const auto* table : {&documentMenu(), &startMenu()})
        for (const Command& c : *table)
            if (c.id == id) return &c;
    return nullptr;
}

const std::vector<int>& toolbarButtons() {
    static const std::vector<int> buttons = {ID_FILE_NEW, ID_FILE_OPEN,  ID_FILE_SAVE,  kSeparator,
                                             ID_EDIT_CUT, ID_EDIT_COPY,  ID_EDIT_PASTE, kSeparator,
                                             ID_FILE_PRINT, ID_APP_ABOUT};
    return buttons;
}

}  // namespace qel::cmd
