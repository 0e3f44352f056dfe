// The identifiers of the menu commands. An operation names the command it is by one of these;
// the command table gives each its place in the menus.
#pragma once

namespace qel::cmd {

// Framework commands.
constexpr int ID_FILE_NEW = 57600;
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_CLOSE = 57602;
constexpr int ID_FILE_SAVE = 57603;
constexpr int ID_FILE_SAVE_AS = 57604;
constexpr int ID_FILE_PRINT_SETUP = 57606;
constexpr int ID_FILE_PRINT = 57607;
constexpr int ID_FILE_PRINT_PREVIEW = 57609;
constexpr int ID_FILE_MRU_FILE1 = 57616;  // up to four: 57616 .. 57619
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_HELP_INDEX = 57666;
constexpr int ID_EDIT_COPY = 57634;
constexpr int ID_EDIT_CUT = 57635;
constexpr int ID_EDIT_PASTE = 57637;
constexpr int ID_EDIT_UNDO = 57643;
constexpr int ID_EDIT_REDO = 57644;
constexpr int ID_WINDOW_NEW = 57648;
constexpr int ID_WINDOW_ARRANGE = 57649;
constexpr int ID_WINDOW_CASCADE = 57650;
constexpr int ID_WINDOW_TILE_HORZ = 57651;
constexpr int ID_NEXT_PANE = 57680;
constexpr int ID_PREV_PANE = 57681;
constexpr int ID_VIEW_TOOLBAR = 59392;
constexpr int ID_VIEW_STATUS_BAR = 59393;

// The program's own commands.
constexpr int ID_THIN = 32771;
constexpr int ID_COUNT_COLOURS = 32772;
constexpr int ID_TO_256 = 32773;
constexpr int ID_TO_16 = 32774;
constexpr int ID_STRAIGHTEN = 32775;
constexpr int ID_ZOOM_IN = 32776;
constexpr int ID_ZOOM_OUT = 32777;
constexpr int ID_TO_24BIT = 32778;
constexpr int ID_TIDY = 32779;
constexpr int ID_REDUCE_256 = 32781;
constexpr int ID_PALETTE = 32782;
constexpr int ID_TO_GREY = 32783;
constexpr int ID_TO_BLACK_WHITE = 32784;
constexpr int ID_SCREEN_CAPTURE = 32785;
constexpr int ID_SCALE = 32786;
constexpr int ID_TRANSFORM = 32787;
constexpr int ID_CALCULATOR = 32788;
constexpr int ID_MIX = 32790;
constexpr int ID_IMAGE_INFO = 32791;
constexpr int ID_FRACTAL = 32792;
constexpr int ID_TIDY2 = 32793;
constexpr int ID_FIT_PALETTE = 32794;
constexpr int ID_QUANTIZE = 32795;

}  // namespace qel::cmd
