// Makes the SafeBox part of the main window, its hooks reading the window's context.
#pragma once

#include <memory>

struct MainWindowContext;
class SafeBoxPane;

std::unique_ptr<SafeBoxPane> makeSafeBoxPane(MainWindowContext& ctx);
