#include "core/commands/command_table.h"

namespace qel::cmd {

bool isEnabled(Rule rule, const CommandContext& c) {
    switch (rule) {
    case Rule::Always: return true;
    case Rule::DocumentWindow: return c.documentWindow;
    case Rule::Never: return false;
    case Rule::Picture: return c.documentWindow && c.picture;
    case Rule::NoPicture: return c.documentWindow && !c.picture;
    case Rule::Depth24: return c.documentWindow && c.picture && c.depth == 24;
    case Rule::DepthNot24: return c.documentWindow && c.picture && c.depth != 24;
    case Rule::DepthAbove4: return c.documentWindow && c.picture && c.depth > 4;
    case Rule::Depth4Or8: return c.documentWindow && c.picture && (c.depth == 4 || c.depth == 8);
    case Rule::Depth8: return c.documentWindow && c.picture && c.depth == 8;
    case Rule::Depth8Thinned: return c.documentWindow && c.picture && c.depth == 8 && c.thinned;
    case Rule::Undo: return c.documentWindow && c.undoEnabled;
    case Rule::Redo: return c.documentWindow && c.redoEnabled;
    }
    return false;
}

std::vector<int> depthsAccepted(Rule rule) {
    switch (rule) {
    case Rule::Depth24: return {24};
    case Rule::DepthNot24: return {1, 4, 8};
    case Rule::DepthAbove4: return {8, 24};
    case Rule::Depth4Or8: return {8, 4};
    case Rule::Depth8:
    case Rule::Depth8Thinned: return {8};
    default: return {};
    }
}

namespace {
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
    static const std::vector<Command> table = {
        {ID_FILE_NEW, kFile, "新規作成(&N)\tCtrl+N", Rule::Always, "Ctrl+N", "新規にﾌｧｲﾙを作成します"},
        {ID_FILE_OPEN, kFile, "開く(&O)...\tCtrl+O", Rule::Always, "Ctrl+O", "既存のﾌｧｲﾙを開きます"},
        {ID_FILE_CLOSE, kFile, "閉じる(&C)", Rule::DocumentWindow, "", "作業中のﾌｧｲﾙを閉じます"},
        {ID_FILE_SAVE, kFile, "上書き保存(&S)\tCtrl+S", Rule::Always, "Ctrl+S", "作業中のﾌｧｲﾙを保存します"},
        {ID_FILE_SAVE_AS, kFile, "名前を付けて保存(&A)...", Rule::Always, "", "作業中のﾌｧｲﾙを新しい名前で保存します"},
        {kSeparator, kFile, nullptr, Rule::Always, ""},
        {ID_FILE_PRINT, kFile, "印刷(&P)...\tCtrl+P", Rule::DocumentWindow, "Ctrl+P", "作業中のﾌｧｲﾙを印刷します"},
        {ID_FILE_PRINT_PREVIEW, kFile, "印刷ﾌﾟﾚﾋﾞｭｰ(&V)", Rule::DocumentWindow, "", "ﾌﾙ ﾍﾟｰｼﾞ表示します"},
        {ID_FILE_PRINT_SETUP, kFile, "ﾌﾟﾘﾝﾀの設定(&R)...", Rule::Always, "", "ﾌﾟﾘﾝﾀおよびﾌﾟﾘﾝﾀ接続の設定を変更します"},
        {kSeparator, kFile, nullptr, Rule::Always, ""},
        {ID_FILE_MRU_FILE1, kFile, "最新のﾌｧｲﾙ", Rule::Always, "", "指定のﾌｧｲﾙを開きます"},
        {kSeparator, kFile, nullptr, Rule::Always, ""},
        {ID_APP_EXIT, kFile, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", Rule::Always, "", "ｱﾌﾟﾘｹｰｼｮﾝを終了します"},
        {ID_EDIT_UNDO, kEdit, "元に戻す(&U)\tCtrl+Z", Rule::Undo, "Ctrl+Z;Alt+Backspace", "直前に行った動作を元に戻します"},
        {ID_EDIT_REDO, kEdit, "やり直し \tCtrl+Y", Rule::Redo, "Ctrl+Y;Ctrl+Space", "直前に行った動作を繰り返します"},
        {kSeparator, kEdit, nullptr, Rule::Always, ""},
        {ID_EDIT_CUT, kEdit, "切り取り(&T)\tCtrl+X", Rule::Never, "Ctrl+X;Shift+Del", "選択範囲を切り取ってｸﾘｯﾌﾟﾎﾞｰﾄﾞに移動します"},
        {ID_EDIT_COPY, kEdit, "ｺﾋﾟｰ(&C)\tCtrl+C", Rule::Picture, "Ctrl+C;Ctrl+Ins", "選択範囲をｺﾋﾟｰしてｸﾘｯﾌﾟﾎﾞｰﾄﾞに保存します"},
        {ID_EDIT_PASTE, kEdit, "貼り付け(&P)\tCtrl+V", Rule::NoPicture, "Ctrl+V;Shift+Ins", "ｸﾘｯﾌﾟﾎﾞｰﾄﾞの内容を貼り付けます"},
        {ID_ZOOM_IN, kView, "拡大表示", Rule::Picture, ""},
        {ID_ZOOM_OUT, kView, "縮小表示", Rule::Picture, ""},
        {ID_IMAGE_INFO, kView, "画面情報", Rule::Always, ""},
        {kSeparator, kView, nullptr, Rule::Always, ""},
        {ID_VIEW_TOOLBAR, kView, "ﾂｰﾙ ﾊﾞｰ(&T)", Rule::Always, "", "ﾂｰﾙ ﾊﾞｰの表示/非表示を切り替えます"},
        {ID_VIEW_STATUS_BAR, kView, "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", Rule::Always, "", "ｽﾃｰﾀｽ ﾊﾞｰの表示/非表示を切り替えます"},
        {ID_TRANSFORM, kEffect, "関数で変換", Rule::Depth24, ""},
        {ID_THIN, kLine, "細線化", Rule::Depth8, "", nullptr, Thinned::Set},
        {ID_STRAIGHTEN, kLine, "直線化", Rule::Depth8Thinned, ""},
        {ID_TIDY, kLine, "整線", Rule::Depth8Thinned, "", nullptr, Thinned::Keep, true},
        {ID_TIDY2, kLine, "整線2", Rule::Depth8, "", nullptr, Thinned::Set},
        {ID_SCALE, kEffect, "伸縮", Rule::Depth24, ""},
        {ID_MIX, kEffect, "混合", Rule::Depth24, ""},
        {ID_FRACTAL, kEffect, "フラクタル", Rule::Depth24, ""},
        {ID_COUNT_COLOURS, kColour, "色数", Rule::Picture, ""},
        {ID_PALETTE, kColour, "パレット", Rule::Depth4Or8, ""},
        {ID_REDUCE_256, kColour, "減色(256色)", Rule::Depth24, ""},
        {ID_FIT_PALETTE, kColour, "パレットに合せる", Rule::Depth4Or8, ""},
        {ID_TO_24BIT, kDepth, "２４ｂｉｔ", Rule::DepthNot24, "", nullptr, Thinned::Clear, true},
        {ID_TO_256, kDepth, "256色", Rule::Depth24, "", nullptr, Thinned::Clear, true},
        {ID_TO_16, kDepth, "16色", Rule::DepthAbove4, "", nullptr, Thinned::Clear, true},
        {ID_TO_GREY, kDepth, "灰色", Rule::Picture, ""},
        {ID_TO_BLACK_WHITE, kDepth, "白黒", Rule::Depth4Or8, ""},
        {ID_WINDOW_NEW, kWindow, "新しいｳｨﾝﾄﾞｳを開く(&N)", Rule::DocumentWindow, "", "作業中のｳｨﾝﾄﾞｳを複写して表示します"},
        {ID_WINDOW_CASCADE, kWindow, "重ねて表示(&C)", Rule::DocumentWindow, "", "ｳｨﾝﾄﾞｳを重ねて表示します"},
        {ID_WINDOW_TILE_HORZ, kWindow, "並べて表示(&T)", Rule::DocumentWindow, "", "ｳｨﾝﾄﾞｳを並べて表示します"},
        {ID_WINDOW_ARRANGE, kWindow, "ｱｲｺﾝの整列(&A)", Rule::DocumentWindow, "", "ｱｲｺﾝを整列します"},
        {ID_SCREEN_CAPTURE, kOther, "画面キャプチャ", Rule::NoPicture, ""},
        {ID_CALCULATOR, kOther, "関数電卓", Rule::Always, ""},
        {ID_HELP_INDEX, kHelp, "ヘルプ", Rule::Always, "", "ﾍﾙﾌﾟを表示します"},
        {kSeparator, kHelp, nullptr, Rule::Always, ""},
        {ID_APP_ABOUT, kHelp, "ﾊﾞｰｼﾞｮﾝ情報(Qel) (&A)...", Rule::Always, "", "ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝそして著作権を表示します"},
        {ID_NEXT_PANE, nullptr, "次のﾍﾟｲﾝ", Rule::DocumentWindow, "F6", "次のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに切り替えます"},
        {ID_PREV_PANE, nullptr, "前のﾍﾟｲﾝ", Rule::DocumentWindow, "Shift+F6", "前のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに切り替えます"},
    };
    return table;
}

const std::vector<Command>& startMenu() {
    static const std::vector<Command> table = {
        {ID_FILE_NEW, kFile, "新規作成(&N)\tCtrl+N", Rule::Always, "Ctrl+N", "新規にﾌｧｲﾙを作成します"},
        {ID_FILE_OPEN, kFile, "開く(&O)...\tCtrl+O", Rule::Always, "Ctrl+O", "既存のﾌｧｲﾙを開きます"},
        {kSeparator, kFile, nullptr, Rule::Always, ""},
        {ID_FILE_PRINT_SETUP, kFile, "ﾌﾟﾘﾝﾀの設定(&R)...", Rule::Always, "", "ﾌﾟﾘﾝﾀおよびﾌﾟﾘﾝﾀ接続の設定を変更します"},
        {kSeparator, kFile, nullptr, Rule::Always, ""},
        {ID_FILE_MRU_FILE1, kFile, "最新のﾌｧｲﾙ", Rule::Always, "", "指定のﾌｧｲﾙを開きます"},
        {kSeparator, kFile, nullptr, Rule::Always, ""},
        {ID_APP_EXIT, kFile, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", Rule::Always, "", "ｱﾌﾟﾘｹｰｼｮﾝを終了します"},
        {ID_VIEW_TOOLBAR, kView, "ﾂｰﾙ ﾊﾞｰ(&T)", Rule::Always, "", "ﾂｰﾙ ﾊﾞｰの表示/非表示を切り替えます"},
        {ID_VIEW_STATUS_BAR, kView, "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", Rule::Always, "", "ｽﾃｰﾀｽ ﾊﾞｰの表示/非表示を切り替えます"},
        {ID_HELP_INDEX, kHelp, "ヘルプ", Rule::Always, "", "ﾍﾙﾌﾟを表示します"},
        {kSeparator, kHelp, nullptr, Rule::Always, ""},
        {ID_APP_ABOUT, kHelp, "ﾊﾞｰｼﾞｮﾝ情報(Qel)(&A)...", Rule::Always, "", "ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝそして著作権を表示します"},
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
