#include "common/ui-text-table.h"

namespace kestrel {

// clang-format off
const std::array<UiTextRow, uiTextRowCount> uiTextTable{{
	// 0
	{"OBS Cloud Backup", "Copia en la nube de OBS", "Sauvegarde OBS dans le cloud", "OBS 云备份",
	 "OBS クラウドバックアップ"},
	{"⚙ Settings", "⚙ Ajustes", "⚙ Réglages", "⚙ 设置", "⚙ 設定"},
	{"☁ Backup", "☁ Copia", "☁ Sauvegarde", "☁ 备份", "☁ バックアップ"},
	{"⬇ Restore", "⬇ Restaurar", "⬇ Restaurer", "⬇ 恢复", "⬇ 復元"},
	{"Cloud provider", "Proveedor de nube", "Fournisseur cloud", "云服务商", "クラウドサービス"},
	{"Provider:", "Proveedor:", "Fournisseur :", "服务商：", "サービス："},
	{"Local folder (OneDrive / Google Drive sync)", "Carpeta local (sincronizada con OneDrive / Google Drive)",
	 "Dossier local (synchro OneDrive / Google Drive)", "本地文件夹（OneDrive / Google Drive 同步）",
	 "ローカルフォルダー（OneDrive / Google Drive 同期）"},
	{"Client ID:", "Client ID:", "Client ID :", "Client ID：", "Client ID："},
	{"Paste your OAuth Client ID here", "Pegá acá tu Client ID de OAuth", "Collez ici votre Client ID OAuth",
	 "在此粘贴你的 OAuth Client ID", "OAuth の Client ID をここに貼り付け"},
	{"Client Secret:", "Client Secret:", "Client Secret :", "Client Secret：", "Client Secret："},
	// 10
	{"Google Drive only (leave blank for OneDrive)", "Solo Google Drive (dejalo vacío para OneDrive)",
	 "Google Drive uniquement (laissez vide pour OneDrive)", "仅 Google Drive（OneDrive 请留空）",
	 "Google Drive のみ（OneDrive は空欄のまま）"},
	{"Not needed for OneDrive (PKCE)", "No hace falta para OneDrive (PKCE)", "Inutile pour OneDrive (PKCE)",
	 "OneDrive 无需填写（PKCE）", "OneDrive では不要（PKCE）"},
	{"Paste your Client Secret here", "Pegá acá tu Client Secret", "Collez ici votre Client Secret",
	 "在此粘贴你的 Client Secret", "Client Secret をここに貼り付け"},
	{"Backup folder:", "Carpeta de copia:", "Dossier de sauvegarde :", "备份文件夹：", "バックアップ先フォルダー："},
	{"e.g. %1", "ej.: %1", "ex. : %1", "例如 %1", "例: %1"},
	{"Browse…", "Elegir…", "Parcourir…", "浏览…", "参照…"},
	{"Authorization", "Autorización", "Autorisation", "授权", "認証"},
	{"Not connected", "Sin conectar", "Non connecté", "未连接", "未接続"},
	{"Connect…", "Conectar…", "Connecter…", "连接…", "接続…"},
	{"Connecting…", "Conectando…", "Connexion…", "正在连接…", "接続中…"},
	// 20
	{"Reconnect", "Reconectar", "Reconnecter", "重新连接", "再接続"},
	{"✓ Connected to %1", "✓ Conectado a %1", "✓ Connecté à %1", "✓ 已连接到 %1", "✓ %1 に接続済み"},
	{"Save settings", "Guardar ajustes", "Enregistrer les réglages", "保存设置", "設定を保存"},
	{"<small>Pick a folder inside your <b>OneDrive</b> or <b>Google Drive</b> sync directory. The plugin copies "
	 "your backup there and the desktop client uploads it automatically – no login or credentials needed.</small>",
	 "<small>Elegí una carpeta dentro de tu carpeta sincronizada de <b>OneDrive</b> o <b>Google Drive</b>. El "
	 "plugin guarda ahí tu copia y la app de escritorio la sube sola – sin login ni credenciales.</small>",
	 "<small>Choisissez un dossier dans votre dossier synchronisé <b>OneDrive</b> ou <b>Google Drive</b>. Le "
	 "plugin y copie votre sauvegarde et le client de bureau l’envoie tout seul – sans connexion ni "
	 "identifiants.</small>",
	 "<small>在你的 <b>OneDrive</b> 或 <b>Google Drive</b> 同步目录里选一个文件夹。插件会把备份复制到那里，"
	 "桌面客户端会自动上传 – 无需登录或凭据。</small>",
	 "<small><b>OneDrive</b> または <b>Google Drive</b> の同期フォルダー内のフォルダーを選んでください。"
	 "プラグインがそこへバックアップをコピーし、デスクトップアプリが自動でアップロードします – "
	 "ログインや認証情報は不要です。</small>"},
	{"<small>Register an OAuth app in your cloud provider's console and paste your Client ID here.<br>Redirect "
	 "URI to register: <b>http://localhost:8765/callback</b></small>",
	 "<small>Registrá una app OAuth en la consola de tu proveedor de nube y pegá acá tu Client ID.<br>URI de "
	 "redirección a registrar: <b>http://localhost:8765/callback</b></small>",
	 "<small>Créez une app OAuth dans la console de votre fournisseur cloud et collez ici votre Client ID.<br>URI "
	 "de redirection à déclarer : <b>http://localhost:8765/callback</b></small>",
	 "<small>在云服务商的控制台注册一个 OAuth 应用，并在此粘贴你的 Client ID。<br>要注册的重定向 URI："
	 "<b>http://localhost:8765/callback</b></small>",
	 "<small>クラウドサービスのコンソールで OAuth アプリを登録し、Client ID をここに貼り付けてください。<br>"
	 "登録するリダイレクト URI: <b>http://localhost:8765/callback</b></small>"},
	{"Click 'Start backup' to upload scenes, profiles and media files.",
	 "Hacé clic en 'Iniciar copia' para subir escenas, perfiles y archivos multimedia.",
	 "Cliquez sur 'Lancer la sauvegarde' pour envoyer scènes, profils et médias.",
	 "点击 '开始备份' 上传场景、配置文件和媒体文件。",
	 "'バックアップ開始' をクリックして、シーン・プロファイル・メディアをアップロードします。"},
	{"Start backup", "Iniciar copia", "Lancer la sauvegarde", "开始备份", "バックアップ開始"},
	{"💛 Support the project", "💛 Apoyá el proyecto", "💛 Soutenez le projet", "💛 支持这个项目",
	 "💛 プロジェクトを応援"},
	{"If <b>Kestrel</b> saves you time, a small donation keeps it going and growing. Thank you!",
	 "Si <b>Kestrel</b> te ahorra tiempo, una pequeña donación lo mantiene vivo y creciendo. ¡Gracias!",
	 "Si <b>Kestrel</b> vous fait gagner du temps, un petit don l’aide à vivre et à grandir. Merci !",
	 "如果 <b>Kestrel</b> 帮你省了时间，一点小小的捐助能让它继续成长。谢谢！",
	 "<b>Kestrel</b> が役に立ったら、少額の寄付で開発を支えてください。ありがとう！"},
	{"Donate", "Donar", "Faire un don", "捐助", "寄付する"},
	// 30
	{"📣 Follow me on social media", "📣 Seguime en redes", "📣 Suivez-moi sur les réseaux",
	 "📣 在社交媒体上关注我", "📣 SNS でフォローしてね"},
	{"Can't donate? No worries — a follow on my socials helps a lot too. Thank you so much! 🙌",
	 "¿No podés donar? No pasa nada — un follow en mis redes también ayuda un montón. ¡Mil gracias! 🙌",
	 "Pas possible de donner ? Aucun souci — un abonnement sur mes réseaux aide beaucoup aussi. Merci mille "
	 "fois ! 🙌",
	 "不方便捐助？没关系 — 在社交媒体上关注我也很有帮助。非常感谢！🙌",
	 "寄付は難しい？大丈夫 — SNS でフォローしてもらえるだけでも大きな助けです。本当にありがとう！🙌"},
	{"🟢 Delays ON — click to bypass", "🟢 Delays ACTIVOS — clic para apagar",
	 "🟢 Delays ACTIFS — cliquez pour couper", "🟢 延迟已开启 — 点击关闭", "🟢 ディレイ ON — クリックで無効化"},
	{"🔴 Delays OFF (live) — click to enable", "🔴 Delays APAGADOS (en vivo) — clic para activar",
	 "🔴 Delays COUPÉS (direct) — cliquez pour activer", "🔴 延迟已关闭（直播）— 点击开启",
	 "🔴 ディレイ OFF（ライブ）— クリックで有効化"},
	{"Delay switch (turn all delays on/off)", "Interruptor de delays (prender/apagar todos)",
	 "Interrupteur des delays (activer/couper tous les delays)", "延迟开关（开启/关闭所有延迟）",
	 "ディレイスイッチ（すべてのディレイを ON/OFF）"},
	{"Toggle key:", "Tecla:", "Touche :", "切换键：", "切り替えキー："},
	{"None (use OBS hotkey only)", "Ninguna (usar solo el atajo de OBS)", "Aucune (utiliser le raccourci OBS)",
	 "无（仅用 OBS 快捷键）", "なし（OBS のショートカットのみ）"},
	{"Pick a key to turn ALL delays on/off with one press (works globally, even with the game focused). You can "
	 "also set a combo in OBS → Settings → Hotkeys.",
	 "Elegí una tecla para prender/apagar TODOS los delays de un toque (anda en todo el sistema, incluso con el "
	 "juego en foco). También podés poner una combinación en OBS → Ajustes → Atajos.",
	 "Choisissez une touche pour activer/couper TOUS les delays d’un coup (marche partout, même quand le jeu a le "
	 "focus). Vous pouvez aussi définir un raccourci dans OBS → Paramètres → Raccourcis clavier.",
	 "选一个键，一按即可开启/关闭所有延迟（全局有效，游戏在前台时也可用）。也可以在 OBS → 设置 → 快捷键 "
	 "中设置组合键。",
	 "キーを選ぶと、ワンタッチで全ディレイを ON/OFF できます（ゲーム中でもどこでも有効）。OBS → 設定 → "
	 "ホットキー で組み合わせも設定できます。"},
	{"Available backup:", "Copia disponible:", "Sauvegarde disponible :", "可用备份：", "利用できるバックアップ："},
	{"Refresh", "Actualizar", "Actualiser", "刷新", "更新"},
	// 40
	{"Item", "Elemento", "Élément", "项目", "項目"},
	{"Type", "Tipo", "Type", "类型", "種類"},
	{"Size", "Tamaño", "Taille", "大小", "サイズ"},
	{"Scene collection name:", "Nombre de la colección de escenas:", "Nom de la collection de scènes :",
	 "场景集合名称：", "シーンコレクション名："},
	{"Name for the restored scene collection", "Nombre para la colección restaurada",
	 "Nom de la collection de scènes restaurée", "恢复后的场景集合名称", "復元するシーンコレクションの名前"},
	{"Restore selected backup", "Restaurar la copia elegida", "Restaurer la sauvegarde choisie", "恢复所选备份",
	 "選んだバックアップを復元"},
	{"Scene collections", "Colecciones de escenas", "Collections de scènes", "场景集合", "シーンコレクション"},
	{"Profiles", "Perfiles", "Profils", "配置文件", "プロファイル"},
	{"Media files", "Archivos multimedia", "Médias", "媒体文件", "メディアファイル"},
	{"%1 files", "%1 archivos", "%1 fichiers", "%1 个文件", "%1 ファイル"},
	// 50
	{"Select backup folder", "Elegí la carpeta de copia", "Choisir le dossier de sauvegarde", "选择备份文件夹",
	 "バックアップ先フォルダーを選択"},
	{"Settings saved", "Ajustes guardados", "Réglages enregistrés", "设置已保存", "設定を保存しました"},
	{"Settings saved successfully.", "Los ajustes se guardaron bien.", "Réglages enregistrés avec succès.",
	 "设置保存成功。", "設定を正常に保存しました。"},
	{"Missing Client ID", "Falta el Client ID", "Client ID manquant", "缺少 Client ID", "Client ID がありません"},
	{"Please enter a Client ID before connecting.", "Poné un Client ID antes de conectar.",
	 "Saisissez un Client ID avant de vous connecter.", "连接前请先输入 Client ID。",
	 "接続する前に Client ID を入力してください。"},
	{"Authentication failed", "Falló la autenticación", "Échec de l’authentification", "认证失败",
	 "認証に失敗しました"},
	{"Could not authenticate with %1.", "No se pudo autenticar con %1.", "Impossible de s’authentifier auprès de %1.",
	 "无法通过 %1 认证。", "%1 で認証できませんでした。"},
	{"Not connected", "Sin conectar", "Non connecté", "未连接", "未接続"},
	{"Connect to a cloud provider first (Settings tab).",
	 "Primero conectate a un proveedor de nube (pestaña Ajustes).",
	 "Connectez-vous d’abord à un fournisseur cloud (onglet Réglages).", "请先连接云服务商（设置 选项卡）。",
	 "先にクラウドサービスに接続してください（設定タブ）。"},
	{"No backup", "Sin copia", "Aucune sauvegarde", "没有备份", "バックアップなし"},
	// 60
	{"No backup loaded. Click Refresh first.", "No hay ninguna copia cargada. Hacé clic en Actualizar primero.",
	 "Aucune sauvegarde chargée. Cliquez d’abord sur Actualiser.", "尚未加载备份。请先点击 刷新。",
	 "バックアップが読み込まれていません。先に 更新 をクリックしてください。"},
	{"Restore backup", "Restaurar copia", "Restaurer la sauvegarde", "恢复备份", "バックアップを復元"},
	{"This will overwrite your current OBS scenes, profiles and media files.\nContinue?",
	 "Esto sobrescribirá tus escenas, perfiles y archivos multimedia actuales de OBS.\n¿Continuar?",
	 "Cela remplacera vos scènes, profils et médias OBS actuels.\nContinuer ?",
	 "这将覆盖你当前的 OBS 场景、配置文件和媒体文件。\n继续吗？",
	 "現在の OBS のシーン・プロファイル・メディアを上書きします。\n続けますか？"},
	{"Backup complete", "Copia lista", "Sauvegarde terminée", "备份完成", "バックアップ完了"},
	{"Backup uploaded successfully.", "La copia se subió bien.", "Sauvegarde envoyée avec succès.", "备份上传成功。",
	 "バックアップをアップロードしました。"},
	{"Backup failed", "Falló la copia", "Échec de la sauvegarde", "备份失败", "バックアップ失敗"},
	{"An error occurred during backup.", "Hubo un error durante la copia.",
	 "Une erreur est survenue pendant la sauvegarde.", "备份时出错。", "バックアップ中にエラーが発生しました。"},
	{"Restore complete", "Restauración lista", "Restauration terminée", "恢复完成", "復元完了"},
	{"Restore complete.\n\nOBS needs to restart to load the restored scenes, profiles and media. Keeping this "
	 "session open may overwrite the restored files.\n\nRestart OBS now?",
	 "Restauración lista.\n\nOBS tiene que reiniciarse para cargar las escenas, perfiles y medios restaurados. Si "
	 "dejás esta sesión abierta, puede pisar los archivos restaurados.\n\n¿Reiniciar OBS ahora?",
	 "Restauration terminée.\n\nOBS doit redémarrer pour charger les scènes, profils et médias restaurés. Garder "
	 "cette session ouverte peut écraser les fichiers restaurés.\n\nRedémarrer OBS maintenant ?",
	 "恢复完成。\n\nOBS 需要重启才能加载恢复的场景、配置文件和媒体。保持当前会话可能会覆盖已恢复的文件。\n\n"
	 "现在重启 OBS 吗？",
	 "復元が完了しました。\n\n復元したシーン・プロファイル・メディアを読み込むには OBS の再起動が必要です。"
	 "このセッションを開いたままだと、復元したファイルが上書きされることがあります。\n\n"
	 "今すぐ OBS を再起動しますか？"},
	{"Restore failed", "Falló la restauración", "Échec de la restauration", "恢复失败", "復元失敗"},
	// 70
	{"An error occurred during restore.", "Hubo un error durante la restauración.",
	 "Une erreur est survenue pendant la restauration.", "恢复时出错。", "復元中にエラーが発生しました。"},
	{"No backup found", "No se encontró ninguna copia", "Aucune sauvegarde trouvée", "未找到备份",
	 "バックアップが見つかりません"},
	{"Could not load a backup from %1.", "No se pudo cargar una copia desde %1.",
	 "Impossible de charger une sauvegarde depuis %1.", "无法从 %1 加载备份。",
	 "%1 からバックアップを読み込めませんでした。"},
	{"Make sure the folder points at your backup location (the folder that contains \"obs-cloud-backup\").",
	 "Fijate que la carpeta apunte a donde está tu copia (la carpeta que contiene \"obs-cloud-backup\").",
	 "Vérifiez que le dossier pointe vers l’emplacement de votre sauvegarde (le dossier qui contient "
	 "\"obs-cloud-backup\").",
	 "请确认文件夹指向你的备份位置（包含 \"obs-cloud-backup\" 的文件夹）。",
	 "フォルダーがバックアップの場所（\"obs-cloud-backup\" を含むフォルダー）を指しているか確認してください。"},
	{"Dump (discard what the delays hold)", "Dump (descartar lo demorado)",
	 "Dump (jeter ce que les délais retiennent)", "清空（丢弃延迟中的内容）", "ダンプ（遅延中の内容を破棄）"},
	{"Dump key:", "Tecla de dump:", "Touche de dump :", "清空键：", "ダンプキー："},
	// 76: a restore's media from outside the home, asked before it runs
	{"Media outside the home folder", "Archivos fuera de la carpeta personal", "Médias hors du dossier personnel",
	 "主文件夹之外的媒体", "ホームフォルダー外のメディア"},
	{"This backup holds %1 media file(s) that lay outside the home folder. Restore them to the places listed "
	 "below, or skip them?",
	 "Esta copia tiene %1 archivo(s) multimedia que estaban fuera de la carpeta personal. ¿Querés restaurarlos "
	 "en los lugares de abajo o saltearlos?",
	 "Cette sauvegarde contient %1 fichier(s) média situés hors du dossier personnel. Les restaurer aux "
	 "emplacements ci-dessous, ou les ignorer ?",
	 "此备份包含 %1 个位于主文件夹之外的媒体文件。要恢复到下面列出的位置，还是跳过它们？",
	 "このバックアップには、ホームフォルダーの外にあったメディアファイルが %1 個あります。"
	 "下の場所に復元しますか、それともスキップしますか？"},
	{"Put them back", "Restaurarlos", "Les restaurer", "恢复它们", "復元する"},
	{"Skip them", "Saltearlos", "Les ignorer", "跳过它们", "スキップする"},
	// 80
	{"… and %1 more", "… y %1 más", "… et %1 de plus", "… 以及另外 %1 个", "… ほか %1 個"},
	// 81: why a restore skips a file, as its log says it
	{"unsafe path", "ruta insegura", "chemin dangereux", "不安全的路径", "安全でないパス"},
	{"OBS configuration folder unknown", "no se conoce la carpeta de configuración de OBS",
	 "dossier de configuration d’OBS inconnu", "未知的 OBS 配置文件夹", "OBS の設定フォルダーが不明"},
	{"not a file name", "no es un nombre de archivo", "pas un nom de fichier", "不是文件名",
	 "ファイル名ではありません"},
	{"control characters in the path", "caracteres de control en la ruta", "caractères de contrôle dans le chemin",
	 "路径中含有控制字符", "パスに制御文字が含まれています"},
	{"not in a profile folder", "no está en una carpeta de perfil", "pas dans un dossier de profil",
	 "不在配置文件文件夹中", "プロファイルフォルダー内にありません"},
	{"outside the home folder (you chose to skip it)", "fuera de la carpeta personal (elegiste saltearlo)",
	 "hors du dossier personnel (vous avez choisi de l’ignorer)", "在主文件夹之外（你选择了跳过）",
	 "ホームフォルダーの外（スキップを選択）"},
	{"home folder unknown", "no se conoce la carpeta personal", "dossier personnel inconnu", "未知的主文件夹",
	 "ホームフォルダーが不明"},
	{"not an absolute path", "no es una ruta absoluta", "pas un chemin absolu", "不是绝对路径",
	 "絶対パスではありません"},
	{"inside OBS's plug-in folder", "dentro de la carpeta de plugins de OBS", "dans le dossier des plugins d’OBS",
	 "位于 OBS 的插件文件夹内", "OBS のプラグインフォルダー内"},
	// 90
	{"outside the home folder", "fuera de la carpeta personal", "hors du dossier personnel", "在主文件夹之外",
	 "ホームフォルダーの外"},
	{"hidden file or folder of the home", "archivo o carpeta oculta de la carpeta personal",
	 "fichier ou dossier caché du dossier personnel", "主文件夹中的隐藏文件或文件夹",
	 "ホームフォルダーの隠しファイルまたは隠しフォルダー"},
	{"hidden file or folder", "archivo o carpeta oculta", "fichier ou dossier caché", "隐藏文件或文件夹",
	 "隠しファイルまたは隠しフォルダー"},
	{"error", "error", "erreur", "错误", "エラー"},
	{"Skipped (%1): %2", "Salteado (%1): %2", "Ignoré (%1) : %2", "已跳过（%1）：%2", "スキップ（%1）：%2"},
	// 95: more reasons a restore skips a file
	{"inside OBS's plug-in settings folder", "dentro de la carpeta de ajustes de plug-ins de OBS",
	 "dans le dossier des réglages des plug-ins d'OBS", "在 OBS 的插件设置文件夹内",
	 "OBS のプラグイン設定フォルダーの中"},
	{"OBS's own settings file", "archivo de ajustes propio de OBS", "fichier de réglages d'OBS lui-même",
	 "OBS 自身的设置文件", "OBS 自身の設定ファイル"},
	{"same destination as an earlier entry", "mismo destino que una entrada anterior",
	 "même destination qu'une entrée précédente", "与前面的条目目标相同", "前の項目と同じ保存先"},
	{"inside the system folder %1", "dentro de la carpeta del sistema %1", "dans le dossier système %1",
	 "在系统文件夹 %1 内", "システムフォルダー %1 の中"},
	// 99: automatic backups
	{"Automatic backups", "Copias automáticas", "Sauvegardes automatiques", "自动备份", "自動バックアップ"},
	{"After each stream ends", "Al terminar cada stream", "Après chaque stream", "每次直播结束后",
	 "配信が終わるたびに"},
	{"After each recording ends", "Al terminar cada grabación", "Après chaque enregistrement",
	 "每次录制结束后", "録画が終わるたびに"},
	{"When OBS closes (if something changed)", "Al cerrar OBS (si algo cambió)",
	 "À la fermeture d’OBS (si quelque chose a changé)", "关闭 OBS 时（如有改动）",
	 "OBS を閉じるとき（変更があれば）"},
	{"Once a day when OBS starts", "Una vez por día al abrir OBS", "Une fois par jour au démarrage d’OBS",
	 "每天首次启动 OBS 时", "1 日 1 回、OBS の起動時に"},
	{"Backups to keep:", "Copias a conservar:", "Sauvegardes à garder :", "保留的备份数：",
	 "保持するバックアップ数："},
	{"Last automatic backup: %1", "Última copia automática: %1", "Dernière sauvegarde automatique : %1",
	 "上次自动备份：%1", "前回の自動バックアップ：%1"},
	{"%1 files copied, %2 skipped", "%1 archivos copiados, %2 omitidos", "%1 fichiers copiés, %2 ignorés",
	 "已复制 %1 个文件，跳过 %2 个", "%1 ファイルをコピー、%2 件スキップ"},
	{"nothing changed", "nada cambió", "rien n’a changé", "没有改动", "変更なし"},
	{"failed: %1", "falló: %1", "échec : %1", "失败：%1", "失敗：%1"},
	{"No automatic backup yet", "Todavía no hubo copias automáticas", "Pas encore de sauvegarde automatique",
	 "还没有自动备份", "自動バックアップはまだありません"},
}};
// clang-format on

} // namespace kestrel
