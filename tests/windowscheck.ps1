# Checks moltravytext on a real Windows 10 or 11 machine, for what wine
# cannot show. Run it in the folder the zip unpacked to (the one holding
# moltravytext.exe and the glyph files), in a PowerShell window:
#
#   powershell -ExecutionPolicy Bypass -File C:\path\to\windowscheck.ps1
#
# It needs nothing installed, works in a new folder under %TEMP% (removed at
# the end), changes no setting, and takes a few minutes. It prints one line
# a case, PASS, FAIL or SKIP, and under it what it saw. Two cases need you:
# typing a line, and pressing Ctrl-C in a window it opens.
$ErrorActionPreference = 'Stop'
$here = (Get-Location).Path
$program = Join-Path $here 'moltravytext.exe'
if (-not (Test-Path $program)) {
    Write-Host "Run this in the unpacked zip's folder, where moltravytext.exe is."
    exit 2
}
$glyphs = Get-ChildItem -Path $here -Filter '*.bmp' |
    Where-Object { $_.Name -ne 'moltravytext.bmp' }
$work = Join-Path $env:TEMP ('moltravycheck-' + [guid]::NewGuid().ToString('N').Substring(0, 8))
New-Item -ItemType Directory $work | Out-Null
$script:failed = 0

# report: one line for a case, and what was seen under it.
function report($case, $ok, $saw) {
    if ($ok) { Write-Host "PASS  $case" } else { Write-Host "FAIL  $case"; $script:failed++ }
    Write-Host "      $saw"
}

# newfolder: a folder of the work folder holding the glyph set.
function newfolder($name) {
    $folder = Join-Path $work $name
    New-Item -ItemType Directory $folder | Out-Null
    $glyphs | Copy-Item -Destination $folder
    return $folder
}

# launch: the program started in folder, the line piped in.
function launch($folder, $line) {
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $program
    $info.WorkingDirectory = $folder
    $info.UseShellExecute = $false
    $info.RedirectStandardInput = $true
    $info.RedirectStandardOutput = $true
    $p = [System.Diagnostics.Process]::Start($info)
    $p.StandardInput.Write("$line`n")
    $p.StandardInput.Close()
    return $p
}

# run: the program in folder, the line piped in; its status and output.
function run($folder, $line) {
    $p = launch $folder $line
    $out = $p.StandardOutput.ReadToEnd()
    $p.WaitForExit()
    return @{ Status = $p.ExitCode; Output = $out.Trim() -replace '\s+', ' ' }
}

# hash: the picture's checksum, or 'none'.
function hash($path) {
    if (-not (Test-Path -LiteralPath $path)) { return 'none' }
    return (Get-FileHash -LiteralPath $path -Algorithm SHA256).Hash.Substring(0, 12)
}

# leftovers: the temporary files left beside the picture.
function leftovers($folder) {
    return @(Get-ChildItem -LiteralPath $folder -Filter 'moltravytext.bmp.*').Count
}

# A picture open in a viewer that shares delete: replaced, the viewer
# keeping the old bytes (Windows 10 1607 and later, on NTFS).
$f = newfolder 'shared'
$pic = Join-Path $f 'moltravytext.bmp'
run $f 'First.' | Out-Null
$before = hash $pic
$held = [System.IO.File]::Open($pic, 'Open', 'Read', 'ReadWrite, Delete')
$r = run $f 'Second, while held.'
$held.Close()
report 'picture held open, sharing delete' ($r.Status -eq 0 -and (hash $pic) -ne $before) `
    "status $($r.Status), picture $before -> $(hash $pic)"

# Held sharing nothing past the program's second of waiting: refused, the
# earlier picture kept, nothing left behind.
$before = hash $pic
$held = [System.IO.File]::Open($pic, 'Open', 'Read', 'None')
$clock = [System.Diagnostics.Stopwatch]::StartNew()
$r = run $f 'Third, while locked.'
$seconds = [math]::Round($clock.Elapsed.TotalSeconds, 1)
$held.Close()
report 'picture held open, sharing nothing' ($r.Status -eq 1 -and
    $r.Output -like '*Permission denied.*' -and $seconds -lt 60 -and
    (hash $pic) -eq $before -and (leftovers $f) -eq 0) `
    "status $($r.Status) after $seconds s, '$($r.Output.Substring([math]::Max(0, $r.Output.Length - 60)))', $(leftovers $f) left over"

# A read-only picture: replaced.
$before = hash $pic
Set-ItemProperty -LiteralPath $pic -Name IsReadOnly -Value $true
$r = run $f 'Fourth, read-only.'
report 'read-only picture' ($r.Status -eq 0 -and (hash $pic) -ne $before) `
    "status $($r.Status), picture $before -> $(hash $pic)"

# A symbolic link in the picture's place: left alone, refused.
$f = newfolder 'link'
$pic = Join-Path $f 'moltravytext.bmp'
Set-Content -LiteralPath (Join-Path $f 'elsewhere.bmp') -Value 'not a picture'
try {
    New-Item -ItemType SymbolicLink -Path $pic -Target (Join-Path $f 'elsewhere.bmp') | Out-Null
    $r = run $f 'Through a link?'
    $link = (Get-Item -LiteralPath $pic).Attributes -match 'ReparsePoint'
    report 'symbolic link in the picture''s place' ($r.Status -eq 1 -and
        $r.Output -like '*Operation not permitted.*' -and $link) `
        "status $($r.Status), still a link: $link"
} catch {
    Write-Host 'SKIP  symbolic link in the picture''s place'
    Write-Host '      this account may not make links (Developer Mode or an administrator can)'
}

# Deep folders. A picture whose name takes a folder past MAX_PATH works
# anywhere; a current folder past it, only with LongPathsEnabled.
$setting = (Get-ItemProperty 'HKLM:\SYSTEM\CurrentControlSet\Control\FileSystem' `
        -Name LongPathsEnabled -ErrorAction SilentlyContinue).LongPathsEnabled
$enabled = $setting -eq 1
$near = Join-Path $work ('n' * [math]::Max(1, 250 - $work.Length))
New-Item -ItemType Directory $near | Out-Null
$glyphs | Copy-Item -Destination $near
$r = run $near 'Near the limit.'
$made = [System.IO.File]::Exists('\\?\' + (Join-Path $near 'moltravytext.bmp'))
report "folder of $($near.Length) characters, the picture's name past 260" ($r.Status -eq 0 -and $made) `
    "status $($r.Status), picture written: $made"
$deep = '\\?\' + $near + ('\' + ('d' * 100)) * 2
[System.IO.Directory]::CreateDirectory($deep) | Out-Null
foreach ($g in $glyphs) { [System.IO.File]::Copy($g.FullName, $deep + '\' + $g.Name) }
try {
    $r = run $deep.Substring(4) 'Deep down.'
    $made = [System.IO.File]::Exists($deep + '\moltravytext.bmp')
    report "current folder of $($deep.Length - 4) characters, LongPathsEnabled $enabled" ($enabled -and
        $r.Status -eq 0 -and $made) "status $($r.Status), picture written: $made"
} catch {
    report "current folder of $($deep.Length - 4) characters, LongPathsEnabled $enabled" (-not $enabled) `
        "Windows did not start the program there (as expected without LongPathsEnabled): $($_.Exception.InnerException.Message)"
}

# Killed while it stores a large picture, at several moments: never a
# temporary file left behind, the picture the earlier one or a whole one.
$f = newfolder 'killed'
$pic = Join-Path $f 'moltravytext.bmp'
run $f 'Earlier.' | Out-Null
$long = ('a' * 1990) + '.'
$seen = @()
foreach ($after in 5, 20, 50, 100, 200) {
    $p = launch $f $long
    Start-Sleep -Milliseconds $after
    try { $p.Kill() } catch { }
    $p.WaitForExit()
    $seen += "$after ms: $(leftovers $f) left, $((Get-Item -LiteralPath $pic).Length) bytes"
}
report 'killed during the store' (($seen | Where-Object { $_ -notlike '*: 0 left*' }).Count -eq 0) ($seen -join '; ')

# Typed at the console: UTF-16 from the console becomes UTF-8, so the
# report counts "Zoe. Ab", with e-diaeresis, as 8 bytes. (This file is
# ASCII, so that every PowerShell reads it alike.)
$f = newfolder 'typed'
Write-Host ''
Write-Host ('Type  Zo' + [char]0x00EB + '. Ab  and press Enter:')
Push-Location $f
$out = (& $program | Out-String) -replace '\s+', ' '
$status = $LASTEXITCODE
Pop-Location
report 'a line typed at the console' ($status -eq 0 -and $out -match 'Message Length: 8 ') `
    "status $status, '$($out.Trim())'"

# Ctrl-C at the prompt, in a window of its own: the status Windows gives
# (0xC000013A), no picture, nothing left behind.
$f = newfolder 'ctrlc'
Write-Host ''
Write-Host 'A new window opens: press Ctrl-C in it at the prompt.'
$p = Start-Process -FilePath $program -WorkingDirectory $f -PassThru -Wait
$code = '0x{0:X8}' -f $p.ExitCode
report 'Ctrl-C at the prompt' ($code -eq '0xC000013A' -and -not (Test-Path (Join-Path $f 'moltravytext.bmp')) -and
    (leftovers $f) -eq 0) "status $code, picture: $(hash (Join-Path $f 'moltravytext.bmp')), $(leftovers $f) left over"

Remove-Item -LiteralPath ('\\?\' + $work) -Recurse -Force
Write-Host ''
if ($script:failed -eq 0) { Write-Host 'Every case passed.' } else { Write-Host "$($script:failed) failed." }
exit $script:failed
