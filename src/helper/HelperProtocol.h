#pragma once

#include <QString>

namespace tarnwick {

// What the application and the helper say to each other over the helper socket, one JSON object per
// IPCFrame. A request names its operation and carries an id that its reply repeats, so that several calls
// can share one connection and be answered in any order:
//   {"id": 7, "operation": "stopKernel", "pid": 4242}  ->  {"id": 7, "success": true}
// startKernel carries "executablePath", "arguments", "logFile" and an "environment" object for the kernel
// (the controller secret). Replies: startKernel {"pid", "error"?}; stopKernel, runSystemCommand,
// installUpdate and exitForUpdate
// {"success", "error"?}; getVersion {"version"}; waitForKernelExit {"pid", "waitMs"} answers once the
// kernel has exited, or when waitMs have passed, with {"exited", "status"?} ({"error"} for a pid the
// helper did not start). A request the helper cannot read gets {"error"} alone.
namespace HelperProtocol {

inline const QString startKernel = QStringLiteral("startKernel");
inline const QString stopKernel = QStringLiteral("stopKernel");
inline const QString runSystemCommand = QStringLiteral("runSystemCommand");
inline const QString getVersion = QStringLiteral("getVersion");
inline const QString installUpdate = QStringLiteral("installUpdate");
inline const QString exitForUpdate = QStringLiteral("exitForUpdate");
inline const QString waitForKernelExit = QStringLiteral("waitForKernelExit");

namespace Key {
inline const QString id = QStringLiteral("id");
inline const QString operation = QStringLiteral("operation");
inline const QString executablePath = QStringLiteral("executablePath");
inline const QString arguments = QStringLiteral("arguments");
inline const QString logFile = QStringLiteral("logFile");
inline const QString environment = QStringLiteral("environment");
inline const QString pid = QStringLiteral("pid");
inline const QString command = QStringLiteral("command");
inline const QString sourcePath = QStringLiteral("sourcePath");
inline const QString targetPath = QStringLiteral("targetPath");
inline const QString success = QStringLiteral("success");
inline const QString error = QStringLiteral("error");
inline const QString version = QStringLiteral("version");
inline const QString waitMs = QStringLiteral("waitMs");
inline const QString exited = QStringLiteral("exited");
inline const QString status = QStringLiteral("status");
} // namespace Key

} // namespace HelperProtocol
} // namespace tarnwick
