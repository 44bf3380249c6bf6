// What the shell tests share: the recorded message boxes and browser calls.
#pragma once

#include <string>
#include <vector>

#include <unistd.h>

std::vector<std::string>& ShownMessages();
std::vector<std::string>& OpenedURLs();
