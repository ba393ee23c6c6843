<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>korvane::shell::MainWindow</name>
    <message>
        <source>Source &amp;Folders...</source>
        <translation>&amp;Quelltextordner...</translation>
    </message>
    <message>
        <source>Source Folders</source>
        <translation>Quelltextordner</translation>
    </message>
    <message>
        <source>Folders to look for source files in, one per line (after the project&apos;s and the executable&apos;s folders):</source>
        <translation>Ordner, in denen Quelltexte gesucht werden, einer je Zeile (nach den Ordnern des Projekts und des Programms):</translation>
    </message>
    <message>
        <source>Save Screenshot</source>
        <translation>Bildschirmfoto speichern</translation>
    </message>
    <message numerus="yes">
        <source>%1 | %n typed key(s) refused: the device has not read the %2 keys before them</source>
        <translation>
            <numerusform>%1 | %n getippte Taste abgewiesen: das Gerät hat die %2 Tasten davor noch nicht gelesen</numerusform>
            <numerusform>%1 | %n getippte Tasten abgewiesen: das Gerät hat die %2 Tasten davor noch nicht gelesen</numerusform>
        </translation>
    </message>
    <message>
        <source>&amp;Debug</source>
        <translation>&amp;Debuggen</translation>
    </message>
    <message>
        <source>&amp;Pause</source>
        <translation>&amp;Anhalten</translation>
    </message>
    <message>
        <source>&amp;Continue</source>
        <translation>&amp;Fortsetzen</translation>
    </message>
    <message>
        <source>&amp;Step</source>
        <translation>&amp;Einzelschritt</translation>
    </message>
    <message>
        <source>Step &amp;Over</source>
        <translation>Prozedur&amp;schritt</translation>
    </message>
    <message>
        <source>Step O&amp;ut</source>
        <translation>&amp;Rücksprung</translation>
    </message>
    <message>
        <source>&amp;Breakpoints...</source>
        <translation>&amp;Haltepunkte...</translation>
    </message>
    <message>
        <source>Debu&amp;gger</source>
        <translation>Debu&amp;gger</translation>
    </message>
    <message>
        <source>P&amp;rofile</source>
        <translation>P&amp;rofil</translation>
    </message>
    <message>
        <source>PNG picture at 1x (*.png)</source>
        <translation>PNG-Bild in 1x (*.png)</translation>
    </message>
    <message>
        <source>PNG picture at the current zoom (*.png)</source>
        <translation>PNG-Bild im aktuellen Zoom (*.png)</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Open Project File ...</source>
        <translation>Project Datei Ö&amp;ffnen...</translation>
    </message>
    <message>
        <source>&amp;Recent Projects</source>
        <translation>&amp;Zuletzt geöffnete Projekte</translation>
    </message>
    <message>
        <source>Save Screensho&amp;t...	Alt+S</source>
        <translation>Bildschirmfo&amp;to speichern...	Alt+S</translation>
    </message>
    <message>
        <source>Save St&amp;ate...</source>
        <translation>Z&amp;ustand speichern...</translation>
    </message>
    <message>
        <source>&amp;Load State...</source>
        <translation>Zustand &amp;laden...</translation>
    </message>
    <message>
        <source>Record &amp;Input...</source>
        <translation>&amp;Eingaben aufzeichnen...</translation>
    </message>
    <message>
        <source>Input recordings (*.krec)</source>
        <translation>Eingabeaufzeichnungen (*.krec)</translation>
    </message>
    <message>
        <source>State files (*.kst)</source>
        <translation>Zustandsdateien (*.kst)</translation>
    </message>
    <message>
        <source>The emulation did not pause; nothing was done.</source>
        <translation>Die Emulation hielt nicht an; nichts wurde getan.</translation>
    </message>
    <message>
        <source>&amp;Save and Exit	Ctrl+X</source>
        <translation>&amp;Speicher und Exit	Strg+X</translation>
    </message>
    <message>
        <source>E&amp;xit	Ctrl+Q</source>
        <translation>E&amp;xit	Strg+Q</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message>
        <source>Keyboard</source>
        <translation>Tastatur</translation>
    </message>
    <message>
        <source>Status	Ctrl+I</source>
        <translation>Status	Strg+I</translation>
    </message>
    <message>
        <source>Status Next	Ctrl+O</source>
        <translation>Naechste Status	Strg+O</translation>
    </message>
    <message>
        <source>&amp;Zoom</source>
        <translation>&amp;Zoom</translation>
    </message>
    <message>
        <source>%1x</source>
        <translation>%1x</translation>
    </message>
    <message>
        <source>&amp;Fit to Window</source>
        <translation>An &amp;Fenster anpassen</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;Help	Ctrl+H</source>
        <translation>&amp;Hilfthemen	Ctrl+H</translation>
    </message>
    <message>
        <source>&amp;About korvane ...</source>
        <translation>Inf&amp;o ...</translation>
    </message>
    <message>
        <source>Screenshot not saved: %1 (%2)</source>
        <translation>Bildschirmfoto nicht gespeichert: %1 (%2)</translation>
    </message>
    <message>
        <source>These project files no longer exist and were removed from the recent projects:
%1</source>
        <translation>Diese Projektdateien gibt es nicht mehr; sie wurden aus den zuletzt geöffneten Projekten entfernt:
%1</translation>
    </message>
    <message>
        <source>The project %1 did not start:
%2

The log is %3.</source>
        <translation>Das Projekt %1 konnte nicht starten:
%2

Das Protokoll ist %3.</translation>
    </message>
    <message>
        <source>%1 at 0x%2 %3</source>
        <translation>%1 bei 0x%2 %3</translation>
    </message>
    <message>
        <source>Korvane User Guide</source>
        <translation>Korvane-Benutzerhandbuch</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>New Project not opened</source>
        <translation>Kein neues Projekt geöffnet</translation>
    </message>
    <message>
        <source>R&amp;estart</source>
        <translation>N&amp;eu starten</translation>
    </message>
    <message>
        <source>The firmware file has changed. &lt;a href=&quot;reload&quot;&gt;Reload&lt;/a&gt;</source>
        <translation>Die Firmware-Datei hat sich geändert. &lt;a href=&quot;reload&quot;&gt;Neu laden&lt;/a&gt;</translation>
    </message>
    <message>
        <source>About Korvane</source>
        <translation>Über Korvane</translation>
    </message>
    <message>
        <source>Korvane Emulator application.</source>
        <translation>Korvane-Emulator-Anwendung.</translation>
    </message>
    <message>
        <source>Help is not yet implemented!</source>
        <translation>Die Hilfe ist noch nicht vorhanden!</translation>
    </message>
</context>
<context>
    <name>korvane::shell::StatusLine</name>
    <message>
        <source>No project running</source>
        <translation>Kein Projekt läuft</translation>
    </message>
    <message>
        <source>Running</source>
        <translation>Läuft</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>Angehalten</translation>
    </message>
    <message>
        <source>Ended</source>
        <translation>Beendet</translation>
    </message>
    <message>
        <source>Ended: %1</source>
        <translation>Beendet: %1</translation>
    </message>
    <message>
        <source>%1 | %2 MIPS | system_timer %3 s | %4</source>
        <translation>%1 | %2 MIPS | system_timer %3 s | %4</translation>
    </message>
</context>
<context>
    <name>korvane::shell::DebuggerWindow</name>
    <message>
        <source>Source</source>
        <translation>Quelltext</translation>
    </message>
    <message>
        <source>Symbols</source>
        <translation>Symbole</translation>
    </message>
    <message>
        <source>Korvane Debugger</source>
        <translation>Korvane-Debugger</translation>
    </message>
    <message>
        <source>Pause/Continue</source>
        <translation>Anhalten/Fortsetzen</translation>
    </message>
    <message>
        <source>Step</source>
        <translation>Einzelschritt</translation>
    </message>
    <message>
        <source>Step Over</source>
        <translation>Prozedurschritt</translation>
    </message>
    <message>
        <source>Step Out</source>
        <translation>Rücksprung</translation>
    </message>
    <message>
        <source>Toggle Breakpoint</source>
        <translation>Haltepunkt umschalten</translation>
    </message>
    <message>
        <source>Call stack</source>
        <translation>Aufrufstapel</translation>
    </message>
    <message>
        <source>Watch</source>
        <translation>Beobachten</translation>
    </message>
    <message>
        <source>symbol or address</source>
        <translation>Symbol oder Adresse</translation>
    </message>
    <message>
        <source>Symbol</source>
        <translation>Symbol</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Adresse</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Wert</translation>
    </message>
    <message>
        <source>Instruction</source>
        <translation>Befehl</translation>
    </message>
    <message>
        <source>Memory</source>
        <translation>Speicher</translation>
    </message>
    <message>
        <source>address or symbol</source>
        <translation>Adresse oder Symbol</translation>
    </message>
    <message>
        <source>No firmware</source>
        <translation>Keine Firmware</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Angehalten</translation>
    </message>
    <message>
        <source>Running</source>
        <translation>Läuft</translation>
    </message>
    <message>
        <source>A byte is two hex digits.</source>
        <translation>Ein Byte sind zwei Hex-Ziffern.</translation>
    </message>
    <message>
        <source>Reg</source>
        <translation>Reg</translation>
    </message>
    <message>
        <source>&amp;Restart</source>
        <translation>&amp;Neu starten</translation>
    </message>
    <message>
        <source>Open &amp;Log</source>
        <translation>&amp;Protokoll öffnen</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
    <message>
        <source>Last instructions</source>
        <translation>Letzte Befehle</translation>
    </message>
    <message>
        <source>No instructions have run yet.</source>
        <translation>Es sind noch keine Befehle gelaufen.</translation>
    </message>
    <message>
        <source>A register holds up to eight hex digits.</source>
        <translation>Ein Register fasst höchstens acht Hex-Ziffern.</translation>
    </message>
    <message>
        <source>ASCII</source>
        <translation>ASCII</translation>
    </message>
    <message>
        <source>Go to</source>
        <translation>Gehe zu</translation>
    </message>
    <message>
        <source>Run to Cursor</source>
        <translation>Bis zum Cursor ausführen</translation>
    </message>
</context>
<context>
    <name>korvane::shell::BreakpointsDialog</name>
    <message>
        <source>Breakpoints</source>
        <translation>Haltepunkte</translation>
    </message>
    <message>
        <source>On</source>
        <translation>An</translation>
    </message>
    <message>
        <source>Kind</source>
        <translation>Art</translation>
    </message>
    <message>
        <source>Where</source>
        <translation>Wo</translation>
    </message>
    <message>
        <source>Condition</source>
        <translation>Bedingung</translation>
    </message>
    <message>
        <source>Hits</source>
        <translation>Treffer</translation>
    </message>
    <message>
        <source>Code</source>
        <translation>Code</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Lesen</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Schreiben</translation>
    </message>
    <message>
        <source>Access</source>
        <translation>Zugriff</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>address, symbol+offset or start:end</source>
        <translation>Adresse, Symbol+Offset oder Anfang:Ende</translation>
    </message>
    <message>
        <source>condition, e.g. g4 == 5</source>
        <translation>Bedingung, z. B. g4 == 5</translation>
    </message>
    <message>
        <source>#</source>
        <translation>#</translation>
    </message>
</context>
<context>
    <name>korvane::shell::WelcomePanel</name>
    <message>
        <source>&amp;Open Project...</source>
        <translation>Projekt ö&amp;ffnen...</translation>
    </message>
    <message>
        <source>(none yet)</source>
        <translation>(noch keine)</translation>
    </message>
    <message>
        <source>&lt;h2&gt;Welcome to Korvane&lt;/h2&gt;</source>
        <translation>&lt;h2&gt;Willkommen bei Korvane&lt;/h2&gt;</translation>
    </message>
    <message>
        <source>Korvane runs the firmware of an i960 device: its display, its keypad and a debugger. Choose a project to run.</source>
        <translation>Korvane führt die Firmware eines i960-Geräts aus: ihr Display, ihre Tastatur und einen Debugger. Wählen Sie ein Projekt aus.</translation>
    </message>
    <message>
        <source>Recent projects:</source>
        <translation>Zuletzt geöffnete Projekte:</translation>
    </message>
    <message>
        <source>Run the &amp;Demo</source>
        <translation>&amp;Demo starten</translation>
    </message>
</context>
<context>
    <name>korvane::shell::StoredParams</name>
    <message>
        <source>Param file not found: %1</source>
        <translation>Projektdatei nicht gefunden: %1</translation>
    </message>
    <message>
        <source>Param file has more than %1 words on its first line: %2</source>
        <translation>Die erste Zeile der Projektdatei hat mehr als %1 Wörter: %2</translation>
    </message>
    <message>
        <source>Korvane projects (*.tvx)</source>
        <translation>Korvane-Projekte (*.tvx)</translation>
    </message>
</context>
<context>
    <name>korvane::shell::ProfileWindow</name>
    <message>
        <source>Profile</source>
        <translation>Profil</translation>
    </message>
    <message>
        <source>&amp;Reset</source>
        <translation>&amp;Zurücksetzen</translation>
    </message>
    <message>
        <source>Procedure</source>
        <translation>Prozedur</translation>
    </message>
    <message>
        <source>Self</source>
        <translation>Selbst</translation>
    </message>
    <message>
        <source>Self %</source>
        <translation>Selbst %</translation>
    </message>
    <message>
        <source>Inclusive</source>
        <translation>Inklusive</translation>
    </message>
    <message>
        <source>Calls</source>
        <translation>Aufrufe</translation>
    </message>
    <message>
        <source>No firmware</source>
        <translation>Keine Firmware</translation>
    </message>
    <message>
        <source>%1 instructions</source>
        <translation>%1 Befehle</translation>
    </message>
</context>
<context>
    <name>korvane::shell::SourcePane</name>
    <message>
        <source>%1: no line numbers</source>
        <translation>%1: keine Zeilennummern</translation>
    </message>
    <message>
        <source>(source %1 not found)</source>
        <translation>(Quelltext %1 nicht gefunden)</translation>
    </message>
    <message>
        <source>ip %1 lies outside the text</source>
        <translation>ip %1 liegt außerhalb des Programmcodes</translation>
    </message>
</context>
<context>
    <name>korvane::shell::SymbolBrowser</name>
    <message>
        <source>filter symbols</source>
        <translation>Symbole filtern</translation>
    </message>
</context>
</TS>
