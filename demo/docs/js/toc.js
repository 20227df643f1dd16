// The list of chapters, kept here once for every page of the manual: the
// sidebar fills itself from it.
const chapters = [
  ['index.html', 'Welcome'],
  ['install.html', 'Installing'],
  ['usage.html', 'Everyday use'],
  ['reference.html', 'Reference'],
  ['faq.html', 'Questions'],
];
const list = document.getElementById('chapters');
for (const [href, title] of chapters) {
  const item = document.createElement('li');
  const link = document.createElement('a');
  link.href = href;
  link.target = '_top';
  link.textContent = title;
  item.appendChild(link);
  list.appendChild(item);
}
