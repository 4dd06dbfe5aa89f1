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
    <message>
        <source>The update package of %1 could not be checked: its signature could not be downloaded (%2). Please try again later.</source>
        <translation>Das Update-Paket von %1 konnte nicht geprüft werden: seine Signatur ließ sich nicht herunterladen (%2). Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The download of %1 failed: %2. Please try again later.</source>
        <translation>Der Download von %1 ist fehlgeschlagen: %2. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The update package of %1 failed its check (%2) and was deleted. Please try again later.</source>
        <translation>Das Update-Paket von %1 hat die Prüfung nicht bestanden (%2) und wurde gelöscht. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The update package of %1 could not be unpacked (%2) and was deleted. Please try again later.</source>
        <translation>Das Update-Paket von %1 konnte nicht entpackt werden (%2) und wurde gelöscht. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>The update package of %1 lists no files to install and was deleted.</source>
        <translation>Das Update-Paket von %1 enthält keine zu installierenden Dateien und wurde gelöscht.</translation>
    </message>
    <message>
        <source>The update package of %1 lists a file it does not hold (%2) and was deleted. Please try again later.</source>
        <translation>Das Update-Paket von %1 nennt eine Datei, die es nicht enthält (%2), und wurde gelöscht. Bitte versuchen Sie es später erneut.</translation>
    </message>
    <message>
        <source>%1 (changed after it was unpacked, not installed)</source>
        <translation>%1 (nach dem Entpacken verändert, nicht installiert)</translation>
    </message>
    <message>
        <source>%1 (the installer could not be started)</source>
        <translation>%1 (das Installationsprogramm konnte nicht gestartet werden)</translation>
    </message>
    <message>
        <source>%1 (the installer crashed)</source>
        <translation>%1 (das Installationsprogramm ist abgestürzt)</translation>
    </message>
    <message>
        <source>%1 (installer exit code %2)</source>
        <translation>%1 (Rückgabewert des Installationsprogramms: %2)</translation>
    </message>
    <message>
        <source>none</source>
        <translation>keine</translation>
    </message>
    <message>
        <source>Installed: %1. Declined: %2.</source>
        <translation>Installiert: %1. Abgelehnt: %2.</translation>
    </message>
    <message>
        <source>The installation of %1 failed for: %2. %3</source>
        <translation>Die Installation von %1 ist fehlgeschlagen für: %2. %3</translation>
    </message>
    <message>
        <source>The update of %1 is complete. Installed: %2.</source>
        <translation>Die Aktualisierung auf %1 ist abgeschlossen. Installiert: %2.</translation>
    </message>
    <message>
        <source>The update of %1 is not complete. %2</source>
        <translation>Die Aktualisierung auf %1 ist nicht vollständig. %2</translation>
    </message>
    <message>
        <source>Install %1 of %2: %3</source>
        <translation>Installation %1 von %2: %3</translation>
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
    <message>
        <source>The updater cannot use its working folder (%1).</source>
        <translation>Das Aktualisierungsprogramm kann seinen Arbeitsordner nicht verwenden (%1).</translation>
    </message>
    <message>
        <source>Could not reach the update service: %1. Please try again later.</source>
        <translation>Der Aktualisierungsdienst ist nicht erreichbar: %1. Bitte versuchen Sie es später erneut.</translation>
    </message>
</context>
</TS>
