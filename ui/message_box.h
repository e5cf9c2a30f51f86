#pragma once

#include <functional>
#include <string>

class QWidget;

// The three modal boxes of the program. They all go through one handler so
// that tests can answer them instead of an operator.
enum class TBoxKind { Error, Confirmation, GeneralError };

struct TBoxRequest {
  TBoxKind Kind;
  std::string Caption;
  std::string Text;
};

// Returns true when the operator consents (OK).
using TBoxHandler = std::function<bool(const TBoxRequest&)>;

// Caption "Error", error icon, OK.
void ShowErrorBox(QWidget* parent, const std::string& text);

// Caption "Information", information icon, OK and Cancel; only OK consents.
bool ConfirmBox(QWidget* parent, const std::string& text);

// A failure that no handler caught: the message with a full stop added when
// its last byte sorts after ".", the application title as caption, error
// icon, OK.
void ShowGeneralErrorBox(QWidget* parent, const std::string& message);

// Runs the body of an event handler. Nothing may cross the event loop, so a
// failure that escapes the body goes to report, with its message, and the
// program goes on.
void AtEventEdge(const std::function<void()>& body,
                 const std::function<void(const std::string& message)>& report);

// The same, the failure shown in the general error box over parent.
void AtEventEdge(QWidget* parent, const std::function<void()>& body);

// The executable's file name up to its first dot, every letter after the
// first in lower case.
std::string ApplicationTitle();

// Installs a replacement for the real boxes; an empty handler restores them.
void SetMessageBoxHandler(TBoxHandler handler);
