// Helpers shared by the test executables: the event loop, the servers that
// scripts/test starts, and temporary places.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>

class QProcess;

// Runs the GUI event loop until pred holds or the time runs out; answers pred().
bool pumpUntil(const std::function<bool()> &pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs the GUI event loop for a while.
void pumpFor(std::chrono::milliseconds duration);

// The value of an environment variable that scripts/test exports. A test whose
// server is missing fails: it never skips.
QString requiredEnv(const char *name);

// A file of the run's certificates (TRELLAN_TLS_DIR).
QString tlsFile(const QString &name);

// Runs a script of Debian's Python 3 with the arguments and input; its standard
// output. A failing script fails the test with its standard error.
QByteArray runPython(const QString &script, const QStringList &arguments = {}, const QByteArray &input = {});

// secret-tool reads the Secret Service without our code in between.
QString secretTool(const QStringList &args);
QString secretToolLookup(const QString &service, const QString &account);

// The DER bytes of the first certificate in a PEM file; empty when there is none.
QByteArray derFromPemFile(const QString &path);

// Runs the current test again in a fresh process of this executable, with the
// environment changed as given (a null value removes the variable). In the
// child isChildRun() is true, and its TMPDIR (unless given) is a folder that
// goes with the child; the parent fails when the child fails or hangs.
bool isChildRun();
void runCurrentTestInChild(const QMap<QString, QString> &environment,
                           std::chrono::milliseconds limit = std::chrono::seconds(120));
// Only starts that child, through launcher when one is given (setpriv ...), for
// a test that acts on it while it runs. Its standard error goes to ours.
std::unique_ptr<QProcess> startCurrentTestInChild(const QMap<QString, QString> &environment,
                                                  const QStringList &launcher = {});
