#pragma once

// The commands of a main window's menus and toolbar. The window finds its
// actions by these values, and a page that decides about one of them
// (ZNTMenuValidator) is told which one by its value, never by its title: a
// title may change with the window's state or a rewording, the value does not.
enum class ZNTWindowCommand {
    NewWindow,
    ShowFavorites,
    Export,
    PerformClose,
    Quit,
    Undo,
    Redo,
    ShowPreferences,
    ToggleSidebar,
    ToggleRightSidebar,
    ToggleTableFilter,
    ToggleStructureAndContents,
    ReloadData,
    CancelCurrentQuery,
    GoBack,
    GoForward,
    GoUp,
    GoToTerminal,
    ShowHelp,
};
