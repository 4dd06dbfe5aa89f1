<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>DlgDownload</name>
    <message>
        <source>MainWindow</source>
        <translation>Hauptfenster</translation>
    </message>
    <message>
        <source>Time Remaining: 31 seconds ( 0.16/1.56 MB)</source>
        <translation>Verbleibende Zeit: 31 Sekunden ( 0.16/1.56 MB)</translation>
    </message>
    <message>
        <source>Description:</source>
        <translation>Beschreibung:</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Zandro Updater</source>
        <translation>Zandro Updater</translation>
    </message>
    <message>
        <source>Download completed. Please close Zandro Reader when you complete your job, and click &quot;Install&quot;.</source>
        <translation>Download abgeschlossen. Bitte schließen Sie Zandro Reader, wenn Sie Ihre Arbeit beendet haben, und klicken Sie auf „Installieren“.</translation>
    </message>
    <message>
        <source>Install</source>
        <translation>Installieren</translation>
    </message>
</context>
<context>
    <name>DlgMessage</name>
    <message>
        <source>Zandro Updater</source>
        <translation>Zandro Updater</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>Download size: %1</source>
        <translation>Downloadgröße: %1</translation>
    </message>
    <message>
        <source>Release notes:</source>
        <translation>Versionshinweise:</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
</context>
<context>
    <name>DlgUpdateChecking</name>
    <message>
        <source>Zandro Updater</source>
        <translation>Zandro Updater</translation>
    </message>
    <message>
        <source>Checking for Updates...</source>
        <translation>Suche nach Updates...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>QGnomeTheme</name>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
</context>
<context>
    <name>QHttpDownLoadS</name>
    <message>
        <source>Time Remaining: %1 seconds ( %2/%3 MB)</source>
        <translation>Verbleibende Zeit: %1 Sekunden ( %2/%3 MB)</translation>
    </message>
</context>
<context>
    <name>QPlatformTheme</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>UpdaterApp</name>
    <message>
        <source>Zandro Reader is already up to date.</source>
        <translation>Zandro Reader ist bereits auf dem neuesten Stand.</translation>
    </message>
    <message>
        <source>A new version (%1) of Zandro Reader is available. Do you want to download it?</source>
        <translation>Eine neue Version (%1) von Zandro Reader ist verfügbar. Möchten Sie sie herunterladen?</translation>
    </message>
</context>
</TS>
