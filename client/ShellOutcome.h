#pragma once

// What became of a request handed to the desktop's shell to open as the user.
enum class ShellOutcome {
    Opened,    // the shell took it
    NotOpened, // the shell could not be asked: nothing is opened
    Late,      // the shell did not answer within the bound: the request may still complete
};
