@echo off
rem Sets up the plugin on IIS 10 (Windows Server 2016 and later, or Windows 10
rem 1709 and later for the pool's environment variables). Run as an
rem administrator after copying plugin_quorincode_login.exe and web.config to
rem C:\bot-node\plugins. Edit the values below first.
setlocal
set APPCMD=%windir%\system32\inetsrv\appcmd.exe
set SITE=Default Web Site
set POOL=QuorinLogin
set PROGRAM=C:\bot-node\plugins\plugin_quorincode_login.exe
set QUORIN_DIR=C:\bot-node\quorin

rem The CGI module (Windows Server: Install-WindowsFeature Web-CGI).
dism /online /enable-feature /featurename:IIS-CGI /all

rem An application pool of its own, no managed code, with a loaded profile.
rem Its identity is "IIS AppPool\QuorinLogin"; its profile folder is
rem C:\Users\QuorinLogin.
%APPCMD% add apppool /name:%POOL% /managedRuntimeVersion:"" /processModel.identityType:ApplicationPoolIdentity /processModel.loadUserProfile:true
%APPCMD% add app /site.name:"%SITE%" /path:/plugins /physicalPath:C:\bot-node\plugins /applicationPool:%POOL%

rem Allow the program as a CGI program; run it as the pool's identity rather
rem than as the anonymous user (IUSR), so that it and the CLIs it starts can
rem read and write the credentials folder.
%APPCMD% set config /section:system.webServer/security/isapiCgiRestriction /+"[path='%PROGRAM%',allowed='True',description='Quorin login']" /commit:apphost
%APPCMD% set config /section:system.webServer/cgi /createProcessAsUser:false /commit:apphost

rem The plugin's variables: IIS starts a CGI program with the environment of
rem the pool's worker process plus the CGI variables, so they are set on the pool.
%APPCMD% set config /section:system.applicationHost/applicationPools /+"[name='%POOL%'].environmentVariables.[name='BOT_PASSWORD',value='change-me']" /commit:apphost
%APPCMD% set config /section:system.applicationHost/applicationPools /+"[name='%POOL%'].environmentVariables.[name='QUORIN_LOGIN_BIN',value='C:\Tools\quorin\tellumar-quorincode-login.exe']" /commit:apphost
%APPCMD% set config /section:system.applicationHost/applicationPools /+"[name='%POOL%'].environmentVariables.[name='QUORIN_REFRESH_BIN',value='C:\Tools\quorin\tellumar-quorincode-refreshtoken.exe']" /commit:apphost
%APPCMD% set config /section:system.applicationHost/applicationPools /+"[name='%POOL%'].environmentVariables.[name='QUORIN_CREDS_PATH',value='%QUORIN_DIR%\.credentials.json']" /commit:apphost

rem The credentials folder belongs to the pool's identity.
if not exist "%QUORIN_DIR%" mkdir "%QUORIN_DIR%"
icacls "%QUORIN_DIR%" /grant "IIS AppPool\%POOL%:(OI)(CI)M"

rem The query of this route can hold the node password (pwd): no log line for it.
%APPCMD% set config "%SITE%/plugins/plugin_quorincode_login" /section:system.webServer/httpLogging /dontLog:true /commit:apphost

rem Loopback only; for any other address use an https binding with a certificate.
%APPCMD% set site /site.name:"%SITE%" /bindings:http/127.0.0.1:80:

%APPCMD% recycle apppool /apppool.name:%POOL%
endlocal
