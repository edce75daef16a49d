// The small user-interface service through which every message box is shown.
#pragma once

#include <functional>
#include <string_view>

// Caption of the application's standard message box.
inline constexpr std::string_view kAppCaption = "Lumbra";

// Shows a message with an OK button: written to standard error as
// "caption: text", and handed to the installed listener (the control panel
// while it is open, or a test).
void ShowMessageBox(std::string_view caption, std::string_view text);
// The application's standard box.
void ShowAppMessage(std::string_view text);

using MessageListener = std::function<void(std::string_view caption, std::string_view text)>;
// Installs a listener (an empty one removes it); returns the previous one.
MessageListener SetMessageListener(MessageListener listener);

// Asks a question with Yes and No buttons: written to standard error as
// "caption: text [yes/no]" and handed to the installed question listener (the
// control panel, or a test), whose answer it returns; True means Yes. Without a
// listener nobody can answer, so the answer is No. May block until answered.
bool AskYesNo(std::string_view caption, std::string_view text);

using QuestionListener = std::function<bool(std::string_view caption, std::string_view text)>;
// Installs a question listener (an empty one removes it); returns the previous one.
QuestionListener SetQuestionListener(QuestionListener listener);

// Turns the copy on standard error on (the default) or off, for callers such as
// fuzz targets that see thousands of messages; returns the previous setting.
bool SetMessageEcho(bool echo);
