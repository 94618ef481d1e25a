#include "app/main_window.h"

void ShowAlert(const char* text) {
    MessageBoxA(nullptr, text, "警告", MB_OK);
}
