#include "harness.h"

#include <map>

namespace testing_dialogs {

std::vector<Box> boxes;
int boxAnswer = IDOK;
std::function<void()> insideBox;
std::vector<rt::ErrorPtr> errors;

void resetCaptures() {
    boxes.clear();
    boxAnswer = IDOK;
    insideBox = nullptr;
    errors.clear();
}

namespace {

struct Script {
    std::vector<Step> steps;
    std::size_t next = 0;
    bool running = false;
    int idle = 0;
    int hidden = 0;
};
std::map<UINT_PTR, Script> g_scripts;
UINT_PTR g_nextTimer = 1000;

void CALLBACK scriptTick(HWND hWnd, UINT, UINT_PTR id, DWORD) {
    const auto it = g_scripts.find(id);
    if (it == g_scripts.end()) {
        KillTimer(hWnd, id);
        return;
    }
    Script& s = it->second;
    if (s.running) return; // a step runs a nested loop: wait for it
    // A modal dialog is shown once its loop first finds the queue empty; a tick that comes
    // before (a slow start) waits for that, as a user would, up to five seconds.
    if (s.next == 0 && !IsWindowVisible(hWnd) && ++s.hidden < 500) return;
    if (s.next < s.steps.size()) {
        const Step step = s.steps[s.next++];
        s.running = true;
        step(hWnd);
        s.running = false;
        return;
    }
    if (++s.idle > 200) {
        ADD_FAILURE() << "a test dialog was still open after its last step";
        KillTimer(hWnd, id);
        g_scripts.erase(it);
        EndDialog(hWnd, 99);
    }
}

} // namespace

void runSteps(HWND hWnd, std::vector<Step> steps) {
    const UINT_PTR id = g_nextTimer++;
    g_scripts[id] = Script{std::move(steps)};
    SetTimer(hWnd, id, 10, scriptTick);
}

rt::Value script(std::vector<Step> steps) {
    return rt::makeBlock("TEST", [steps](rt::Args a) {
        runSteps(a[0].objectAs<dialogs::TDialog>()->hWnd, steps);
        return rt::Value();
    });
}

std::shared_ptr<dialogs::TDialog> pixelDialog(const char* caption) {
    return dialogs::TDialog::New({.cCaption = caption, .nWidth = 300, .nHeight = 200});
}

void command(HWND hDlg, int code, int id, HWND hCtl) {
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(hCtl));
}

const char* testResources() {
    return "dialogs_test_res.dll";
}

} // namespace testing_dialogs

namespace {

// No test ever shows a real message box, and framework errors are collected.
class Environment : public ::testing::Environment {
  public:
    void SetUp() override {
        using namespace testing_dialogs;
        dialogs::setMessageBoxFunction(
            [](HWND owner, const std::string& text, const std::string& title, UINT style) {
                boxes.push_back({owner, text, title, style});
                if (insideBox) std::exchange(insideBox, nullptr)();
                return boxAnswer;
            });
        rt::ERRORBLOCK(rt::makeBlock("ERRORSYS", [](rt::Args a) {
            errors.push_back(a[0].objectAs<rt::ErrorObject>());
            return rt::Value();
        }));
    }
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new Environment);
    return RUN_ALL_TESTS();
}
