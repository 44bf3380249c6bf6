// What the shell tests share: the recorded message boxes and browser calls.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

std::vector<std::string>& ShownMessages();
std::vector<std::string>& OpenedURLs();
