#pragma once

class QWidget;
class SettingsStore;
class UiServices;
struct AppState;

// Opens the scheme manager modally on state.Schemes; its OK writes the store.
void ShowSchemeManager(QWidget *parent, AppState &state, SettingsStore &store, UiServices &ui);
