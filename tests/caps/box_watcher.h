#pragma once
// Observes the library's real message boxes: a helper thread finds each "#32770" window
// of this process, records its caption and text and presses OK, while the code under
// test runs on the calling thread.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct ShownBox {
    std::string caption;
    std::string text;
};

std::vector<ShownBox> BoxesShownBy(const std::function<void()>& action);
// The texts only, in order.
std::vector<std::string> BoxTextsShownBy(const std::function<void()>& action);
