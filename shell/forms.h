#pragma once
// The one place where the windows reach each other. The program's structure calls for
// three such references: every footer label opens the maker's page through the splash
// window's link opener, the table window's query runs over the design window's catalogue
// connection, and the design window's menu shows the About and table windows. Windows
// include this instead of one another's headers.

namespace krepiks {

class TADOConnection;

// A footer label's click: the maker's page through Form1's link opener.
void OpenMakerWebSite();

// The connection Form4 opened when it was made; Form2 is made after it.
TADOConnection* CatalogueConnection();

// The design window's menu: Form5 and Form2, modally.
void ShowAboutWindow();
void ShowTableWindow();

} // namespace krepiks
