<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>DevicesTab</name>
    <message>
        <source>DeviceName</source>
        <translation>设备名称</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>位置</translation>
    </message>
    <message>
        <source>ControllerMac</source>
        <translation>控制器 MAC</translation>
    </message>
    <message>
        <source>No devices</source>
        <translation>没有设备</translation>
    </message>
</context>
<context>
    <name>FileTransfer</name>
    <message>
        <source>Confirmation</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>The download to %1 has not finished.
Do you want to stop it, remove its partial file and start the new one?</source>
        <translation>下载到 %1 的文件尚未完成。
是否停止该下载、删除其未完成的文件并开始新的下载？</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Cannot write the file %1:
%2</source>
        <translation>无法写入文件 %1：
%2</translation>
    </message>
    <message>
        <source>incomplete answer: %1 of %2 bytes</source>
        <translation>回答不完整：收到 %1 / %2 字节</translation>
    </message>
    <message>
        <source>Download failed!</source>
        <translation>下载失败！</translation>
    </message>
    <message>
        <source>The partial file %1 was removed.</source>
        <translation>未完成的文件 %1 已删除。</translation>
    </message>
    <message>
        <source>The installation package was saved as
%1
Do you want to open its folder?</source>
        <translation>安装包已保存为
%1
是否打开其所在文件夹？</translation>
    </message>
    <message>
        <source>Download Success!
Do you want to open the file?</source>
        <translation>下载成功！
是否打开文件？</translation>
    </message>
</context>
<context>
    <name>HttpAnswer</name>
    <message>
        <source>the server did not answer in time</source>
        <translation>服务器未在规定时间内应答</translation>
    </message>
    <message>
        <source>HTTP status %1</source>
        <translation>HTTP 状态 %1</translation>
    </message>
    <message>
        <source>unreadable answer</source>
        <translation>无法识别的应答</translation>
    </message>
</context>
<context>
    <name>JobFolderGuard</name>
    <message>
        <source>%1 in the job folder was a link to another file: the link was removed, nothing was sent</source>
        <translation>作业文件夹中的 %1 是指向其他文件的链接：链接已删除，未发送任何内容</translation>
    </message>
    <message>
        <source>%1 in the job folder is not a print job file and is ignored</source>
        <translation>作业文件夹中的 %1 不是打印作业文件，已忽略</translation>
    </message>
</context>
<context>
    <name>JobQueue</name>
    <message>
        <source>could not find INI file</source>
        <translation>找不到 INI 文件</translation>
    </message>
    <message>
        <source>KestranaClient V%1</source>
        <translation>Kestrana 客户端 V%1</translation>
    </message>
    <message>
        <source>You are not allowed to submit color homework. Do you want to submit it?</source>
        <translation>您无权提交彩色作业。是否仍要提交？</translation>
    </message>
    <message>
        <source>You are not allowed to submit single-sided operation. Do you want to submit it?</source>
        <translation>您无权提交单面作业。是否仍要提交？</translation>
    </message>
    <message>
        <source>Page number of print job [%1] exceeds [%2] limit</source>
        <translation>打印作业 [%1] 的页数超过 [%2] 页的限制</translation>
    </message>
    <message>
        <source>Print job [%1] size exceeds 1g limit</source>
        <translation>打印作业 [%1] 的大小超过 1G 的限制</translation>
    </message>
    <message>
        <source>Kestrana</source>
        <translation>Kestrana 打印</translation>
    </message>
    <message>
        <source>Print job [%1] was removed: its document did not arrive</source>
        <translation>打印作业 [%1] 已删除：文档未到达</translation>
    </message>
    <message>
        <source>Print job [%1] was removed: its document is not a complete PDF</source>
        <translation>打印作业 [%1] 已删除：文档不是完整的 PDF</translation>
    </message>
    <message>
        <source>Print job [%1] waits: its settings cannot be read</source>
        <translation>打印作业 [%1] 等待中：无法读取其打印设置</translation>
    </message>
    <message>
        <source>Print job [%1] could not be sent within %2 hours and was removed</source>
        <translation>打印作业 [%1] 在 %2 小时内未能发送，已删除</translation>
    </message>
    <message>
        <source>Print job [%1] is kept and will be sent when the server can be reached</source>
        <translation>打印作业 [%1] 已保留，将在服务器可连接时发送</translation>
    </message>
    <message>
        <source>Print job [%1] was cancelled</source>
        <translation>打印作业 [%1] 已取消</translation>
    </message>
    <message>
        <source>Print job [%1] was removed: its settings cannot be read</source>
        <translation>打印作业 [%1] 已删除：无法读取其打印设置</translation>
    </message>
    <message>
        <source>Print job [%1] was removed: the server could not be reached</source>
        <translation>打印作业 [%1] 已删除：无法连接服务器</translation>
    </message>
</context>
<context>
    <name>JobSubmitter</name>
    <message>
        <source>ks server link ex</source>
        <translation>连接 KS 服务器异常</translation>
    </message>
    <message>
        <source>User has no permission to print!</source>
        <translation>用户没有打印权限！</translation>
    </message>
    <message>
        <source>unreadable answer</source>
        <translation>无法识别的应答</translation>
    </message>
    <message>
        <source>the server gave no job ID</source>
        <translation>服务器未返回作业编号</translation>
    </message>
    <message>
        <source>job submit fail</source>
        <translation>作业提交失败</translation>
    </message>
    <message>
        <source>job [%1] submit fail</source>
        <translation>作业 [%1] 提交失败</translation>
    </message>
    <message>
        <source>job uploadFile fail</source>
        <translation>作业文件上传失败</translation>
    </message>
    <message>
        <source>job [%1] uploadFile fail</source>
        <translation>作业 [%1] 文件上传失败</translation>
    </message>
    <message>
        <source>cancel printing</source>
        <translation>取消打印</translation>
    </message>
    <message>
        <source>Printing assignment submission in progress</source>
        <translation>正在提交打印作业</translation>
    </message>
    <message>
        <source>System users cannot print!</source>
        <translation>系统用户不能打印！</translation>
    </message>
    <message>
        <source>Client address is not authenticated!</source>
        <translation>客户端地址未经认证！</translation>
    </message>
    <message>
        <source>the file changed while it was sent</source>
        <translation>文件在发送过程中被修改</translation>
    </message>
    <message>
        <source>Job submitted to KS</source>
        <translation>作业已提交到 KS</translation>
    </message>
    <message>
        <source>job [%1] submiited to KS</source>
        <translation>作业 [%1] 已提交到 KS</translation>
    </message>
    <message>
        <source>the file is empty</source>
        <translation>文件为空</translation>
    </message>
</context>
<context>
    <name>JobsTab</name>
    <message>
        <source>docName</source>
        <translation>文档名称</translation>
    </message>
    <message>
        <source>submitTime</source>
        <translation>提交时间</translation>
    </message>
    <message>
        <source>status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>copies</source>
        <translation>份数</translation>
    </message>
    <message>
        <source>color</source>
        <translation>彩色</translation>
    </message>
    <message>
        <source>pages</source>
        <translation>页数</translation>
    </message>
    <message>
        <source>duplex</source>
        <translation>双面</translation>
    </message>
    <message>
        <source>pageWidth</source>
        <translation>页宽</translation>
    </message>
    <message>
        <source>pageHeight</source>
        <translation>页高</translation>
    </message>
    <message>
        <source>statusid</source>
        <translation>状态编号</translation>
    </message>
    <message>
        <source>jobID</source>
        <translation>作业编号</translation>
    </message>
    <message>
        <source>No print jobs</source>
        <translation>没有打印作业</translation>
    </message>
    <message>
        <source>WaterProcessing</source>
        <translation>处理中</translation>
    </message>
    <message>
        <source>WaitPrint</source>
        <translation>等待打印</translation>
    </message>
    <message>
        <source>LongEdge</source>
        <translation>长边翻转</translation>
    </message>
    <message>
        <source>ShortEdge</source>
        <translation>短边翻转</translation>
    </message>
    <message>
        <source>None</source>
        <translation>单面</translation>
    </message>
    <message>
        <source>true</source>
        <translation>是</translation>
    </message>
    <message>
        <source>false</source>
        <translation>否</translation>
    </message>
    <message>
        <source>Do you want to cancel the selected jobs?</source>
        <translation>是否取消所选作业？</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Cannot delete the job to be approved</source>
        <translation>待审批的作业不能删除</translation>
    </message>
    <message>
        <source>Job deleted</source>
        <translation>作业已删除</translation>
    </message>
    <message>
        <source>job [%1] deleted</source>
        <translation>作业 [%1] 已删除</translation>
    </message>
    <message>
        <source>job [%1] not deleted</source>
        <translation>作业 [%1] 未删除</translation>
    </message>
    <message>
        <source>Job submitted success</source>
        <translation>作业提交成功</translation>
    </message>
    <message>
        <source>job [%1] submited success</source>
        <translation>作业 [%1] 提交成功</translation>
    </message>
    <message>
        <source>Expired</source>
        <translation>已过期</translation>
    </message>
</context>
<context>
    <name>KsKit</name>
    <message>
        <source>login fail</source>
        <translation>登录失败</translation>
    </message>
</context>
<context>
    <name>LoginDialog</name>
    <message>
        <source>Kestrana Client - Login</source>
        <translation>Kestrana 客户端 - 登录</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>KestranaPrintClient</source>
        <translation>Kestrana 打印客户端</translation>
    </message>
    <message>
        <source>Scan to log in</source>
        <translation>扫码登录</translation>
    </message>
    <message>
        <source>Please input a login name</source>
        <translation>请输入登录名</translation>
    </message>
    <message>
        <source>Please input a password</source>
        <translation>请输入密码</translation>
    </message>
    <message>
        <source>Please input a KS server</source>
        <translation>请输入 KS 服务器地址</translation>
    </message>
    <message>
        <source>Save Password</source>
        <translation>保存密码</translation>
    </message>
    <message>
        <source>Auto Login</source>
        <translation>自动登录</translation>
    </message>
    <message>
        <source>System Account</source>
        <translation>系统账号</translation>
    </message>
    <message>
        <source>Login</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>Log in with an account</source>
        <translation>账号登录</translation>
    </message>
    <message>
        <source>Mobile scanning login</source>
        <translation>手机扫码登录</translation>
    </message>
    <message>
        <source>Choose a server</source>
        <translation>选择服务器</translation>
    </message>
    <message>
        <source>Click to refresh the code</source>
        <translation>点击刷新二维码</translation>
    </message>
    <message>
        <source>ks server path is not empty</source>
        <translation>KS 服务器地址不能为空</translation>
    </message>
    <message>
        <source>login name is not empty</source>
        <translation>登录名不能为空</translation>
    </message>
    <message>
        <source>password is not empty</source>
        <translation>密码不能为空</translation>
    </message>
    <message>
        <source>Unable to link server</source>
        <translation>无法连接服务器</translation>
    </message>
    <message>
        <source>Login failed</source>
        <translation>登录失败</translation>
    </message>
    <message>
        <source>Please log in to the print client</source>
        <translation>请登录打印客户端</translation>
    </message>
    <message>
        <source>The certificate of the server %1 has changed.

Trusted until now (SHA-256):
%2

Presented now (SHA-256):
%3

Accept the new certificate only if you know that the server&apos;s certificate was replaced. Accept it?</source>
        <translation>服务器 %1 的证书已更改。

此前信任的证书 (SHA-256)：
%2

现在出示的证书 (SHA-256)：
%3

只有在确知服务器证书已被更换时才接受新证书。是否接受？</translation>
    </message>
    <message>
        <source>Valid for %1 minutes, until %2.</source>
        <translation>二维码 %1 分钟内有效，至 %2。</translation>
    </message>
    <message>
        <source>The code has expired: click it or press Space for a new one.</source>
        <translation>二维码已过期：点击它或按空格键获取新的二维码。</translation>
    </message>
    <message>
        <source>Login name</source>
        <translation>登录名</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>服务器</translation>
    </message>
    <message>
        <source>Login code: scan it with the phone app.</source>
        <translation>登录二维码：请用手机应用扫描。</translation>
    </message>
    <message>
        <source>Set by your site&apos;s administrator</source>
        <translation>由本单位管理员设置</translation>
    </message>
</context>
<context>
    <name>LoginInfo</name>
    <message>
        <source>default KS server</source>
        <translation>默认 KS 服务器</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Kestrana Client</source>
        <translation>Kestrana 客户端</translation>
    </message>
    <message>
        <source>Jobs</source>
        <translation>打印作业</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>generate pin code</source>
        <translation>生成取件码</translation>
    </message>
    <message>
        <source>Pin Code:</source>
        <translation>取件码：</translation>
    </message>
    <message>
        <source>Expiration time:</source>
        <translation>过期时间：</translation>
    </message>
    <message>
        <source>Devices</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>ScanJobs</source>
        <translation>扫描作业</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>下载</translation>
    </message>
    <message>
        <source>UserInfo</source>
        <translation>用户信息</translation>
    </message>
    <message>
        <source>BasicInfo</source>
        <translation>基本信息</translation>
    </message>
    <message>
        <source>UserGroup</source>
        <translation>用户组</translation>
    </message>
    <message>
        <source>CardNumber</source>
        <translation>卡号</translation>
    </message>
    <message>
        <source>Balance</source>
        <translation>余额</translation>
    </message>
    <message>
        <source>Spend</source>
        <translation>已消费</translation>
    </message>
    <message>
        <source>TelNumber</source>
        <translation>电话号码</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>电子邮箱</translation>
    </message>
    <message>
        <source>PrintPermission</source>
        <translation>打印权限</translation>
    </message>
    <message>
        <source>AllowPrintColor</source>
        <translation>允许彩色打印</translation>
    </message>
    <message>
        <source>PrintDateLimit</source>
        <translation>打印日期限制</translation>
    </message>
    <message>
        <source>PrintTimeLimit</source>
        <translation>打印时段限制</translation>
    </message>
    <message>
        <source>SystemInfo</source>
        <translation>系统信息</translation>
    </message>
    <message>
        <source>SoftwareUpdate</source>
        <translation>软件更新</translation>
    </message>
    <message>
        <source>Click Check for updates to check for the latest version！</source>
        <translation>点击“检查更新”检查最新版本！</translation>
    </message>
    <message>
        <source>CheckUpdate</source>
        <translation>检查更新</translation>
    </message>
    <message>
        <source>AutoUpdate</source>
        <translation>自动更新</translation>
    </message>
    <message>
        <source>ServerInfo</source>
        <translation>服务器信息</translation>
    </message>
    <message>
        <source>SwitchServer</source>
        <translation>切换服务器</translation>
    </message>
    <message>
        <source>Messages</source>
        <translation>消息</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清空</translation>
    </message>
    <message>
        <source>Current user:</source>
        <translation>当前用户：</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation>文本标签</translation>
    </message>
    <message>
        <source>Current server:</source>
        <translation>当前服务器：</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>Logout</source>
        <translation>注销</translation>
    </message>
    <message>
        <source>Unable to link server</source>
        <translation>无法连接服务器</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Existed jobs found</source>
        <translation>发现已有作业</translation>
    </message>
    <message>
        <source>Do you want to submit the jobs?</source>
        <translation>是否提交这些作业？</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>丢弃</translation>
    </message>
    <message>
        <source>Submit</source>
        <translation>提交</translation>
    </message>
    <message>
        <source>Kestrana</source>
        <translation>Kestrana 打印</translation>
    </message>
    <message>
        <source>Document: %1</source>
        <translation>文档：%1</translation>
    </message>
    <message>
        <source>online</source>
        <translation>在线</translation>
    </message>
    <message>
        <source>offline: %1</source>
        <translation>离线：%1</translation>
    </message>
    <message numerus="yes">
        <source>%n job(s) waiting to be sent</source>
        <translation>
            <numerusform>%n 个作业等待发送</numerusform>
        </translation>
    </message>
    <message>
        <source>Print jobs</source>
        <translation>打印作业</translation>
    </message>
    <message>
        <source>Scan jobs</source>
        <translation>扫描作业</translation>
    </message>
    <message>
        <source>Sites</source>
        <translation>站点</translation>
    </message>
    <message>
        <source>Connection to the server</source>
        <translation>与服务器的连接</translation>
    </message>
</context>
<context>
    <name>MessagesTab</name>
    <message>
        <source>date</source>
        <translation>日期</translation>
    </message>
    <message>
        <source>message</source>
        <translation>消息</translation>
    </message>
    <message>
        <source>Id</source>
        <translation>编号</translation>
    </message>
    <message>
        <source>No messages</source>
        <translation>没有消息</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Please select data</source>
        <translation>请选择数据</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>Do you want to clear the data?</source>
        <translation>是否清空数据？</translation>
    </message>
    <message>
        <source>Fail</source>
        <translation>失败</translation>
    </message>
</context>
<context>
    <name>NoCardPrintDialog</name>
    <message>
        <source>SecretLevel</source>
        <translation>密级</translation>
    </message>
    <message>
        <source>Public</source>
        <translation>公开</translation>
    </message>
    <message>
        <source>Secret3</source>
        <translation>秘密</translation>
    </message>
    <message>
        <source>Secret2</source>
        <translation>机密</translation>
    </message>
    <message>
        <source>Secret1</source>
        <translation>绝密</translation>
    </message>
    <message>
        <source>No-Card Printers</source>
        <translation>免刷卡打印机</translation>
    </message>
    <message>
        <source>Printers</source>
        <translation>打印机</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>位置</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Fee Projects</source>
        <translation>费用项目</translation>
    </message>
    <message>
        <source>Project</source>
        <translation>项目</translation>
    </message>
    <message>
        <source>Balance</source>
        <translation>余额</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>Document: %1</source>
        <translation>文档：%1</translation>
    </message>
</context>
<context>
    <name>Prompts</name>
    <message>
        <source>Title</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
</context>
<context>
    <name>ScanJobsTab</name>
    <message>
        <source>jobID</source>
        <translation>作业编号</translation>
    </message>
    <message>
        <source>JobName</source>
        <translation>作业名称</translation>
    </message>
    <message>
        <source>SubmitTime</source>
        <translation>提交时间</translation>
    </message>
    <message>
        <source>StatusID</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>No scan jobs</source>
        <translation>没有扫描作业</translation>
    </message>
    <message>
        <source>Do you want to cancel the selected scan jobs?</source>
        <translation>是否取消所选扫描作业？</translation>
    </message>
    <message>
        <source>ScanJob deleted</source>
        <translation>扫描作业已删除</translation>
    </message>
    <message>
        <source>ScanJob [%1] deleted</source>
        <translation>扫描作业 [%1] 已删除</translation>
    </message>
    <message>
        <source>ScanJob [%1] not deleted</source>
        <translation>扫描作业 [%1] 未删除</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Please select data</source>
        <translation>请选择数据</translation>
    </message>
</context>
<context>
    <name>ServerDialog</name>
    <message>
        <source>ServerInfo</source>
        <translation>服务器信息</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>SiteUrl</source>
        <translation>站点地址</translation>
    </message>
    <message>
        <source>SiteName</source>
        <translation>站点名称</translation>
    </message>
    <message>
        <source>Sites</source>
        <translation>站点</translation>
    </message>
</context>
<context>
    <name>ServerMonitor</name>
    <message>
        <source>network is down</source>
        <translation>网络已断开</translation>
    </message>
    <message>
        <source>Unable to link server</source>
        <translation>无法连接服务器</translation>
    </message>
</context>
<context>
    <name>ServersTab</name>
    <message>
        <source>SiteUrl</source>
        <translation>站点地址</translation>
    </message>
    <message>
        <source>SiteName</source>
        <translation>站点名称</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>位置</translation>
    </message>
    <message>
        <source>No sites</source>
        <translation>没有站点</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Please select data</source>
        <translation>请选择数据</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>Do you want to switch the Server?</source>
        <translation>是否切换服务器？</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>ks server link ex</source>
        <translation>服务器连接异常</translation>
    </message>
    <message>
        <source>Switch server fail</source>
        <translation>切换服务器失败</translation>
    </message>
    <message>
        <source>Switch server success</source>
        <translation>切换服务器成功</translation>
    </message>
    <message>
        <source>The server is set by your site&apos;s administrator</source>
        <translation>服务器由本单位管理员设置</translation>
    </message>
</context>
<context>
    <name>SystemTab</name>
    <message>
        <source>Click Check for updates to detect the latest version! %1</source>
        <translation>点击“检查更新”检测最新版本！%1</translation>
    </message>
    <message>
        <source>Click Check for updates to detect the latest version!</source>
        <translation>点击“检查更新”检测最新版本！</translation>
    </message>
    <message>
        <source>Click Check for updates to check for the latest version!</source>
        <translation>点击“检查更新”检查最新版本！</translation>
    </message>
    <message>
        <source>Checked the latest version: %1 , click “automatic update” to upgrade the software!</source>
        <translation>检测到最新版本：%1，点击“自动更新”升级软件！</translation>
    </message>
</context>
<context>
    <name>TabPage</name>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Please select data</source>
        <translation>请选择数据</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>Batch deletion (up to 30)</source>
        <translation>批量删除（最多 30 个）</translation>
    </message>
    <message>
        <source>Offline: nothing could be loaded from the server yet.</source>
        <translation>离线：尚未能从服务器加载任何内容。</translation>
    </message>
    <message>
        <source>Offline: shown as the server sent it at %1.</source>
        <translation>离线：显示的是服务器于 %1 发送的内容。</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>Kestrana Client V%1</source>
        <translation>Kestrana 客户端 V%1</translation>
    </message>
    <message>
        <source>show main UI</source>
        <translation>显示主界面</translation>
    </message>
    <message>
        <source>exit</source>
        <translation>退出</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>parse INI file error</source>
        <translation>解析 INI 文件出错</translation>
    </message>
    <message>
        <source>Could load login info</source>
        <translation>无法加载登录信息</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
</context>
</TS>
