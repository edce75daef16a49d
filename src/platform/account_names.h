// Who runs the program and on which machine.
#pragma once

#include <string>

// The login name of the user running the program; empty when unknown.
std::string GetUserName();

// The home folder the password database gives the user; empty when unknown.
std::string GetAccountHomeFolder();

// This machine's host name; empty when unknown.
std::string GetMachineName();
