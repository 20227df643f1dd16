#pragma once

// What a view of the download run shows, and how the run asks for a
// password. The progress window and the command line implement these.

#include <string>

namespace larkspool {

class IRunObserver {
public:
    virtual ~IRunObserver() = default;
    // The status line ("25% Save pictures (512 bytes received)").
    virtual void StatusChanged(const std::string& Text) = 0;
    // The progress bar.
    virtual void ProgressChanged(int Position, int Max) = 0;
    // The item shown: its title (or address) and its address.
    virtual void ItemChanged(const std::string& Caption, const std::string& URL) = 0;
    // The application's title ("25% Larkspool: Page title").
    virtual void TitleChanged(const std::string& Title) = 0;
    // Something could not be stored, scanned, written or relinked; the run
    // goes on. URL is empty when no single item is concerned.
    virtual void ProblemReported(const std::string& URL, const std::string& Reason) = 0;
    // The run is over (finished, stopped or aborted): the window closes.
    virtual void RunClosed() = 0;
};

class ICredentialsPrompt {
public:
    virtual ~ICredentialsPrompt() = default;
    // Asks for a user name and password for Site ("http://host/"); false
    // when the user declined.
    virtual bool AskCredentials(const std::string& Site, std::string& User,
                                std::string& Password) = 0;
};

} // namespace larkspool
