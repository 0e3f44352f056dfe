// qel: the window program.
#include "gui/shell/qel_app.h"

int main(int argc, char** argv) {
    CQelApp app(argc, argv);
    switch (app.initInstance()) {
    case CQelApp::StartResult::Done: return 0;
    case CQelApp::StartResult::Failed: return 1;
    case CQelApp::StartResult::Run: break;
    }
    return app.exec();
}
