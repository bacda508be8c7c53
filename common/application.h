#pragma once

// Names the running program for the desktop: the application name and the
// desktop file that gives the program its menu entry and icon.
//
// No display name is set: Qt's X11 back end appends an explicitly set
// display name to every window title ("Info — ..."), and each window names
// itself in full.
void setUpApplicationIdentity();

// The desktop file's name without ".desktop", as the package installs it.
inline constexpr char DesktopFileName[] = "example.talviro.Velantor";
