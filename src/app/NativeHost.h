#pragma once

// The program started by the browser: the connection to the extension on
// standard input and output, the self-description exchanged first, the one
// Start call it serves, and the end of the connection.

#include "app/LSApp.h"
#include "browser/ExtensionConnection.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

namespace larkspool {

class TStartForm;

class NativeHost : public QObject {
    Q_OBJECT
public:
    NativeHost(TStartForm& Form, int In, int Out);
    ~NativeHost() override;

    // Starts reading the extension's messages.
    void Open();

    TLSApp App;
    // How long the extension may take to describe itself.
    std::chrono::milliseconds HelloLimit{10000};
    // Ends the program with an exit code (tests replace it).
    std::function<void(int)> Exit;

private:
    void OnHello(const nlohmann::json& Description);
    void OnStart(const Variant& Window);
    void OnEnded();
    void Refuse(const std::string& Problem);
    void Reply(const nlohmann::json& Message);

    const int FIn, FOut;
    std::shared_ptr<ExtensionConnection> FConnection;
    QTimer FHelloTimer;
    bool FIntroduced = false;
    bool FRefused = false;
};

} // namespace larkspool
