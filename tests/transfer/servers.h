#pragma once
// Real peers for the transfer tests: vsftpd and nginx on 127.0.0.1, on ports picked free when the
// test process starts, each process with its own folders, logs and servers (ctest may run test
// processes side by side). Started once per process by a global environment, stopped by process
// id at its end, also when a test fails; a crash takes them along (parent-death signal).
#include <string>

#include "common/testfolder.h"  // ReadAll, WriteAll

namespace kelvane::testing {

struct TTestServers {
  bool Available = false;  // false: not root, or vsftpd / nginx missing (tests skip)
  std::string Why;         // why not available
  std::string Work;        // this process's folder
  int FtpPort = 0;
  int HttpPort = 0;
  std::string FtpUser = "kvftp";
  std::string FtpPassword = "kv-Ftp-pw7";
  std::string FtpRoot;    // the FTP login folder: what arrives on the server
  std::string HttpFiles;  // served at /files/ (and at /auth/ behind Basic authentication)
  std::string DavFolder;  // PUT target /dav/
  std::string HttpUser = "webuser";
  std::string HttpPassword = "web-pw3";
  std::string FtpLog;  // vsftpd's protocol log

  std::string FtpHost() const { return "127.0.0.1:" + std::to_string(FtpPort); }
  std::string HttpBase() const { return "http://127.0.0.1:" + std::to_string(HttpPort); }
  // The number of "USER" commands the FTP server has received so far.
  int FtpLogins() const;
  // Ends the FTP server's session processes (the connections break; the server stays).
  void BreakFtpSessions() const;
  // Writes a file into the FTP login folder, owned (with its folders) by the FTP user.
  void PutFtpFile(const std::string& relative, const std::string& data) const;
  int FtpPid = 0;
};

// The servers of this process (started before the first test).
const TTestServers& Servers();

// A port on 127.0.0.1 that nothing listens on right now.
int FreePort();

// A fresh folder for one test below the process's folder.
std::string FreshFolder(const std::string& name);

// Bytes with structure (runs, counters, noise) so that misplaced blocks show.
std::string MakeData(std::size_t size, unsigned seed);

}  // namespace kelvane::testing
