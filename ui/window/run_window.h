#pragma once
// Runs the program's window until it is closed; returns the event loop's exit code.

class QApplication;

int runWindow(QApplication& app);
