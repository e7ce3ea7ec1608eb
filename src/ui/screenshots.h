#pragma once

class QCommandLineParser;

namespace vantorel {

class Session;
class MainWindow;

// The pictures of the documentation (docs/shots.sh), taken by the tool itself
// on the user's screen when the command line asks for them.

// --screenshot <png>: the main window alone; --shots <folder>: the series of a
// serial download.
void addScreenshotOptions(QCommandLineParser &parser);
// Schedules the pictures the command line asks for, if any; the tool quits once
// they are taken, with 1 when one could not be.
void scheduleScreenshots(const QCommandLineParser &parser, Session &session, MainWindow &window);

} // namespace vantorel
