// Small helpers shared by the host's windows.
#pragma once

#include <QString>
#include <string>

class QLabel;
class QWidget;

QLabel* NamedLabel(QWidget* parent, const char* name, const char* text);
void CentreOnScreen(QWidget* window);

inline QString Q(const std::string& text) { return QString::fromStdString(text); }
inline std::string S(const QString& text) { return text.toStdString(); }
