<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_TW">
<context>
    <name>vorlink::CAboutDlg</name>
    <message>
        <source>關於 NESTO Zanthe</source>
        <translation>About NESTO Zanthe</translation>
    </message>
    <message>
        <source>NESTO Zanthe - 4.5.23.1 版</source>
        <translation>NESTO Zanthe - version 4.5.23.1</translation>
    </message>
    <message>
        <source>網頁使用智慧卡與 PKCS#11 憑證的本機中介程式</source>
        <translation>The local agent that lets web pages use smart cards and PKCS#11 tokens</translation>
    </message>
    <message>
        <source>確定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>vorlink::CMainFrame</name>
    <message>
        <source>注意 !
執行中網頁(或程式), 將無法繼續作業, 需要重新進入網頁, 才能繼續, 確定要重新啟動嗎?</source>
        <translation>Note!
Web pages (or programs) using the agent will have to be opened again to go on. Restart the agent?</translation>
    </message>
    <message>
        <source>重新啟動</source>
        <translation>Restart</translation>
    </message>
    <message>
        <source>注意 !
執行中網頁(或程式), 將無法作業, 確定要結束嗎?</source>
        <translation>Note!
Web pages (or programs) using the agent will stop working. Exit the agent?</translation>
    </message>
    <message>
        <source>結束</source>
        <translation>Exit</translation>
    </message>
</context>
<context>
    <name>vorlink::CShowLogDialog</name>
    <message>
        <source>作業記錄檢視</source>
        <translation>Execution log</translation>
    </message>
    <message>
        <source>複製</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>清除記錄</source>
        <translation>Clear log</translation>
    </message>
    <message>
        <source>關閉</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>vorlink::CSystemTray</name>
    <message>
        <source>NESTO Zanthe - 版本 : 4.5.23.1</source>
        <translation>NESTO Zanthe - version 4.5.23.1</translation>
    </message>
    <message>
        <source>自訂選項 ...</source>
        <translation>Custom options ...</translation>
    </message>
    <message>
        <source>顯示執行記錄</source>
        <translation>Show execution log</translation>
    </message>
    <message>
        <source>版本說明</source>
        <translation>About</translation>
    </message>
    <message>
        <source>重新啟動</source>
        <translation>Restart</translation>
    </message>
    <message>
        <source>結束</source>
        <translation>Exit</translation>
    </message>
</context>
</TS>
