<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>DlgDownload</name>
    <message>
        <source>MainWindow</source>
        <translation>主窗口</translation>
    </message>
    <message>
        <source>Time Remaining: 31 seconds ( 0.16/1.56 MB)</source>
        <translation>剩余时间：31 秒（0.16/1.56 MB）</translation>
    </message>
    <message>
        <source>Description:</source>
        <translation>说明：</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Zandro Updater</source>
        <translation>Zandro 更新程序</translation>
    </message>
    <message>
        <source>Download completed. Please close Zandro Reader when you complete your job, and click &quot;Install&quot;.</source>
        <translation>下载完成。请在完成手头工作后关闭 Zandro Reader，然后单击“安装”。</translation>
    </message>
    <message>
        <source>Install</source>
        <translation>安装</translation>
    </message>
    <message>
        <source>The update package of %1 could not be checked: its signature could not be downloaded (%2). Please try again later.</source>
        <translation>无法校验 %1 的更新包：无法下载其签名（%2）。请稍后重试。</translation>
    </message>
    <message>
        <source>The download of %1 failed: %2. Please try again later.</source>
        <translation>%1 下载失败：%2。请稍后重试。</translation>
    </message>
    <message>
        <source>The update package of %1 failed its check (%2) and was deleted. Please try again later.</source>
        <translation>%1 的更新包未通过校验（%2），已被删除。请稍后重试。</translation>
    </message>
    <message>
        <source>The update package of %1 could not be unpacked (%2) and was deleted. Please try again later.</source>
        <translation>%1 的更新包无法解压（%2），已被删除。请稍后重试。</translation>
    </message>
    <message>
        <source>The update package of %1 lists no files to install and was deleted.</source>
        <translation>%1 的更新包未列出任何要安装的文件，已被删除。</translation>
    </message>
    <message>
        <source>The update package of %1 lists a file it does not hold (%2) and was deleted. Please try again later.</source>
        <translation>%1 的更新包列出了其中没有的文件（%2），已被删除。请稍后重试。</translation>
    </message>
    <message>
        <source>%1 (changed after it was unpacked, not installed)</source>
        <translation>%1（解包后已被更改，未安装）</translation>
    </message>
    <message>
        <source>%1 (the installer could not be started)</source>
        <translation>%1（无法启动安装程序）</translation>
    </message>
    <message>
        <source>%1 (the installer crashed)</source>
        <translation>%1（安装程序崩溃）</translation>
    </message>
    <message>
        <source>%1 (installer exit code %2)</source>
        <translation>%1（安装程序退出码 %2）</translation>
    </message>
    <message>
        <source>none</source>
        <translation>无</translation>
    </message>
    <message>
        <source>Installed: %1. Declined: %2.</source>
        <translation>已安装：%1。已拒绝：%2。</translation>
    </message>
    <message>
        <source>The installation of %1 failed for: %2. %3</source>
        <translation>%1 的以下文件安装失败：%2。%3</translation>
    </message>
    <message>
        <source>The update of %1 is complete. Installed: %2.</source>
        <translation>%1 更新完成。已安装：%2。</translation>
    </message>
    <message>
        <source>The update of %1 is not complete. %2</source>
        <translation>%1 更新未完成。%2</translation>
    </message>
    <message>
        <source>Install %1 of %2: %3</source>
        <translation>安装第 %1 个，共 %2 个：%3</translation>
    </message>
</context>
<context>
    <name>DlgMessage</name>
    <message>
        <source>Zandro Updater</source>
        <translation>Zandro 更新程序</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Download size: %1</source>
        <translation>下载大小：%1</translation>
    </message>
    <message>
        <source>Release notes:</source>
        <translation>版本说明：</translation>
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
        <translation>Zandro 更新程序</translation>
    </message>
    <message>
        <source>Checking for Updates...</source>
        <translation>正在检查更新...</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>QGnomeTheme</name>
    <message>
        <source>&amp;OK</source>
        <translation>确定(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>取消(&amp;C)</translation>
    </message>
</context>
<context>
    <name>QHttpDownLoadS</name>
    <message>
        <source>Time Remaining: %1 seconds ( %2/%3 MB)</source>
        <translation>剩余时间：%1 秒（%2/%3 MB）</translation>
    </message>
</context>
<context>
    <name>QPlatformTheme</name>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>UpdaterApp</name>
    <message>
        <source>Zandro Reader is already up to date.</source>
        <translation>Zandro Reader 已是最新版本。</translation>
    </message>
    <message>
        <source>A new version (%1) of Zandro Reader is available. Do you want to download it?</source>
        <translation>Zandro Reader 有新版本（%1）可用。是否立即下载？</translation>
    </message>
    <message>
        <source>The updater cannot use its working folder (%1).</source>
        <translation>更新程序无法使用其工作文件夹（%1）。</translation>
    </message>
    <message>
        <source>Could not reach the update service: %1. Please try again later.</source>
        <translation>无法连接更新服务：%1。请稍后重试。</translation>
    </message>
</context>
</TS>
