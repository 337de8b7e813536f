#pragma once

#include <QString>
#include <optional>

// What the command line asks of the program beyond the window itself.
struct CommandLine {
  QString file;                  // load and play at start
  bool live = false;             // start a live capture at start
  std::optional<int> rateIndex;  // 0 slow, 1 norm, 2 fast
  bool exitAtEnd = false;        // quit when the file has played
  bool printReadouts = false;    // print the read-outs while running
  bool fast = false;             // play as fast as it decodes, silently
  double quitAfterSeconds = 0;   // 0: no limit
  QString error;                 // set when the line does not parse
  bool help = false;
  bool version = false;
  bool printMapUrl = false;  // print the live map's address once it listens
};

// "vistaro-player 1.13": the program and its version.
QString VersionText();

CommandLine ParseCommandLine(const QStringList& arguments);
QString CommandLineHelp();

class CVistaroPlayerDlg;

// Selects the rate and, once the event loop runs, loads the file or starts
// the live capture that the command line asks for.
void StartFromCommandLine(CVistaroPlayerDlg& dialog, const CommandLine& line);

// The program: starts the main dialog, runs it modally and ends with it.
class CVistaroPlayerApp {
 public:
  int Run(int argc, char** argv);
};
